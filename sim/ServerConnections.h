// The connections a loopback server of this process accepted, found among the process's open
// descriptors by their ports (the HTTP server library does not hand out its sockets).
#pragma once

namespace qm::sim {

// The accepted socket of the connection between the server's `localPort` and a client's
// `remotePort`; -1 when there is none.
int FindConnectionSocket(int localPort, int remotePort);

// Shuts down every connection accepted on `localPort`, so that a server thread waiting on an idle
// kept-alive connection wakes at once and ends. Clients of this process connected to the server
// are left alone (their local port is another).
void ShutDownServerConnections(int localPort);

}  // namespace qm::sim
