// The pure half of answering a request: reading the request head's bytes and
// deciding the answer (status, header fields, page, which bytes of the file).
// No socket, no clock, no registry: the connection's thread reads, looks the
// item up, calls these and sends what they planned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/registry.h"

// A head that has not ended after this many bytes gets the 413 answer.
constexpr size_t kMaxHead = 16384;
// The whole request head must arrive within this time of the connection's
// acceptance, however the bytes trickle in; a connection without one by then
// is closed without an answer.
constexpr int64_t kHeadDeadlineMs = 15000;

enum class HeadState { kIncomplete, kComplete, kTooLarge };

// Where a head being read stands once bytes from `newFrom` on have arrived
// (the bytes before it were looked at already): complete at the first blank
// line ("\r\n\r\n"), too large past kMaxHead bytes without one.
HeadState CheckHead(const std::string& bytes, size_t newFrom);

enum class Route { kNotFound, kHealth, kItem, kTooLarge };

struct HttpRequest {
  Route route = Route::kNotFound;
  std::string method;     // first word of the request line, as sent
  std::string slug;       // kItem: the decoded path segment to look up
  bool download = false;  // the query holds "dl=1"
  std::string bytes;      // everything read; the Range header is searched here
};

// Parses what reading the head gave (complete or too large, see CheckHead).
HttpRequest ParseRequestHead(const std::string& bytes);

struct ResponsePlan {
  std::string head;   // the first send: status line and header fields, or a whole answer
  std::string body;   // a second send when not empty (pages)
  bool file = false;  // the file's bytes [offset, offset + length) follow the head
  uint64_t offset = 0;
  uint64_t length = 0;
};

// The answer to req. item is the hosted item req.slug names (nullptr when
// there is none, or when req is not routed to an item).
ResponsePlan PlanResponse(const HttpRequest& req, const HostedItem* item);

// The answer sent instead of a planned file whose bytes are no longer those
// that were shared (size or time changed, or it cannot be opened).
constexpr char kFileChangedAnswer[] =
    "HTTP/1.1 500 Internal Server Error\r\nX-Content-Type-Options: nosniff\r\nCache-Control: "
    "no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
