// tertulia-tool get: fetches URLs through one HTTP client, as the console does.

#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "http/http_client.h"
#include "http/http_errors.h"
#include "base/stream.h"
#include "http/tls_transport.h"
#include "tools/commands.h"
#include "tools/peer_text.h"
#include "tools/tool_io.h"

namespace tertulia::tool {

namespace {

void ReportProgress(HttpClient& client) {
    client.OnWorkBegin = [](TWorkMode, std::int32_t max) {
        std::fprintf(stderr, "OnWorkBegin %d\n", static_cast<int>(max));
    };
    client.OnWork = [](TWorkMode, std::int32_t count) {
        std::fprintf(stderr, "OnWork %d\n", static_cast<int>(count));
    };
    client.OnWorkEnd = [](TWorkMode) { std::fputs("OnWorkEnd\n", stderr); };
}

}  // namespace

// Every URL goes through the same client, in order,
// so a kept connection and cookies carry over; the first failure stops the run.
int RunGet(int argc, char** argv) {
    bool progress = false;
    std::optional<std::string> outputFile;
    std::vector<std::string> urls;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--progress") == 0) {
            progress = true;
        } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc && !outputFile) {
            outputFile = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            return UsageError();
        } else {
            urls.emplace_back(argv[i]);
        }
    }
    if (urls.empty() || (outputFile && urls.size() != 1)) {
        return UsageError();
    }

    HttpClient client;
    if (progress) ReportProgress(client);
    try {
        client.SetSecureTransport(MakeTlsTransportFactory());
        if (outputFile) {
            // Written like any download tool's file: left to the page cache, not synced.
            FileStream file(*outputFile, FileStream::Mode::Create);
            client.GetToStream(urls.front(), file);
            return 0;
        }
        for (const auto& url : urls) {
            const std::string body = client.GetText(url);
            if (std::fwrite(body.data(), 1, body.size(), stdout) != body.size() ||
                std::fflush(stdout) != 0) {
                std::perror("tertulia-tool get: standard output");
                return 1;
            }
        }
        return 0;
    } catch (const HttpProtocolError& failure) {
        // The message is the server's status line: the peer's text, escaped.
        std::fflush(stdout);
        return Fail(EscapeControlCharacters(failure.what()));
    } catch (const std::exception& failure) {
        std::fflush(stdout);
        return Fail(failure.what());
    }
}

}  // namespace tertulia::tool
