// The terminal's help texts name the services from the table of services: a help text writes a
// placeholder where the services are listed, and ServiceWords() fills it in.
#pragma once

#include <string>

namespace qm::cli {

// `text` with each placeholder replaced:
//   {kinds|}     the --kind words: qzone|group|weibo
//   {kinds}      the --kind words as a sentence lists them: qzone、group 或 weibo
//   {kinds+}     each word with what its albums are: qzone（QQ号的空间相册）、...
//   {by-address} which word an address gives: 微博网址是 weibo，...，其余是 qzone
//   {targets}    what a target of each service is
//   {names和} {names或}  the services' names, joined by 和 or 或
std::string ServiceWords(std::string text);

}  // namespace qm::cli
