// The commands of quillmoss-cli. Each returns the process exit status.
#pragma once

#include <string>
#include <vector>

#include "app/cli/CliOptions.h"
#include "core/JobRequests.h"
#include "net/StringCtrl.h"

namespace qm::cli {

enum ExitCode : int { ExitDone = 0, ExitFailure = 1, ExitUsage = 2, ExitInterrupted = 130 };

// Entry point: argv without the program name.
int RunCli(const std::vector<std::string>& words);

int ListCommand(const GlobalOptions& global, const ListOptions& options);
int DownloadCommand(const GlobalOptions& global, const DownloadOptions& options);
int SettingsCommand(const GlobalOptions& global, const SettingsOptions& options);
int CookiesCommand(const GlobalOptions& global, const CookiesOptions& options);
int ReportCommand(const GlobalOptions& global, const ReportOptions& options);
int GalleryCommand(const GlobalOptions& global, const GalleryOptions& options);

// The offline gallery of the target just downloaded (`targetFolder` relative to `saveFolder`);
// reports on stderr and never changes the download's exit status.
void GalleryAfterDownload(const Text& saveFolder, const Text& targetFolder);

// Each command's usage line and --help text.
const char* MainHelp();
const char* ListUsage();
const char* ListHelp();
const char* DownloadUsage();
const char* DownloadHelp();
const char* SettingsUsage();
const char* SettingsHelp();
const char* CookiesUsage();
const char* CookiesHelp();
const char* ReportUsage();
const char* ReportHelp();
const char* GalleryUsage();
const char* GalleryHelp();

// Prints "quillmoss-cli: MESSAGE" and the command's usage line to stderr; returns ExitUsage.
int UsageError(const std::string& message, const char* usage);

// The kind for a target: the --kind word (qzone, group, weibo), or what the window would choose
// for the typed text. False for an unknown word.
bool ResolveKind(const std::string* word, TextView target, int& kind);

// Parses "all" or "1,3-5" (1-based rows) against `rows`; the result is sorted record indexes.
bool ParseAlbumSelection(const std::string& text, int rows, std::vector<int>& out, std::string& error);

class Session;
// Runs the list job for `target` and waits for it (the first Ctrl-C stops it).
ListResult RunList(Session& s, const Text& target, int kind);

}  // namespace qm::cli
