// Prompts stored enciphered in the program and deciphered when shown.
#pragma once

#include "net/StringCtrl.h"

namespace qm {

Text PromptEmptyTarget();         // the list job got an empty target
Text PromptSelectAlbums();        // the download job found no selected album
Text PromptDownloadListedSoFar(); // a stop came while an album was listed: download what is listed?
Text PromptMoodLogin();           // mood pictures need a login first
Text HomePageAddress();           // the program's home page
Text HelpAddress(int item);       // help menu addresses

}  // namespace qm
