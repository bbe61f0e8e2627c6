// Start-up settings of the embedded browser (the login window's Chromium engine). They must be in
// place before the QApplication is constructed: Chromium reads its flags once, when the web engine
// starts.
#pragma once

#include <QString>
#include <string>

namespace qm::ui {

// Chromium's --host-resolver-rules for a connection routing as QUILLMOSS_CONNECT_TO writes it:
// "HOST:PORT" sends every host there ("MAP * HOST:PORT"); a list of "host:port:to-host:to-port"
// maps each named host. Empty when `connectTo` is empty or holds nothing usable.
std::string HostResolverRules(const std::string& connectTo);

// Adds to QTWEBENGINE_CHROMIUM_FLAGS (keeping what is there): the host mapping of
// QUILLMOSS_CONNECT_TO, no background traffic of the browser's own (updates, pings, safe-browsing
// look-ups), no GPU on the offscreen platform; turns Chromium's sandbox off when running as root
// (it refuses to start otherwise); and shares OpenGL contexts as the web engine requires.
void PrepareBrowserEnvironment();

// True when the browser's connections are routed (QUILLMOSS_CONNECT_TO was set at start).
bool BrowserRouted();

// The address the browser is sent to. A routed browser reaches a plain-HTTP server under the real
// host names, so an https address is opened over http on the same host; otherwise unchanged.
QString BrowserAddress(const QString& url);

}  // namespace qm::ui
