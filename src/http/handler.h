// Answering one HTTP/1.1 request on one accepted connection.
#pragma once

#include <string>

#include "platform/net.h"
#include "platform/types.h"

// Reads one request head from s and answers it: the health path, an item's
// download page, its file (whole or one byte range), HEAD, or an error answer.
// Owns s and closes it on every path. Pushes kDownloadDone (waking hwnd) at the end
// of every file transfer that was started. Runs on the connection's thread.
void HandleClient(SOCKET s, HWND hwnd);

// HandleClient for a connection whose first bytes were read already: `head`
// holds them (the listener reads until the head is complete or too large).
// Reads on only while that head is incomplete, then answers as HandleClient.
// Owns s and closes it on every path.
void HandleClientWithHead(SOCKET s, HWND hwnd, std::string head);

// Ends a connection after its answer without a reset: stops sending (the peer
// sees the end of the answer), reads and discards what the peer still sends,
// bounded in bytes and time, then closes s. Closing a socket that still holds
// unread input would reset the connection and the peer could lose the answer.
void CloseGracefully(SOCKET s);
