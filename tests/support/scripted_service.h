#pragma once

#include <string>
#include <vector>

#include "tests/http/script_server.h"

namespace tertulia::testing {

// The scripted loopback server as the service: each request gets the next reply queued here, on
// a connection of its own that the server closes after it.
class ScriptedService {
  public:
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(server_.Port()); }
    int Port() const { return server_.Port(); }

    // A "200 OK" reply with this body.
    void Reply(const std::string& body);
    // These bytes as the whole reply.
    void ReplyRaw(const std::string& bytes);
    // The reply's bytes in pieces, with a pause before each later piece.
    void ReplyInPieces(const std::vector<std::string>& pieces);
    // The connection is closed without a reply.
    void Drop();

    // The request target of every request received, in order.
    std::vector<std::string> Targets() const;
    // Every request head exactly as received, in order.
    std::vector<std::string> Requests() const;

  private:
    test::ScriptServer server_;
};

}  // namespace tertulia::testing
