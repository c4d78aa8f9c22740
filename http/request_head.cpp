#include "http/request_head.h"

namespace tertulia {

namespace {

void AddHeader(std::string& head, const char* name, const std::string& value) {
    if (value.empty()) return;
    head += name;
    head += ": ";
    head += value;
    head += "\r\n";
}

}  // namespace

std::string BuildRequestHead(const UrlParts& url, const std::string& cookieHeader) {
    std::string head = "GET " + url.target + " HTTP/1.1\r\n";
    AddHeader(head, "Host", url.port == DefaultPort(url) ? url.host : url.host + ":" + url.port);
    AddHeader(head, "Accept", "text/html, */*");
    AddHeader(head, "Accept-Encoding", "identity");
    AddHeader(head, "User-Agent", "Mozilla/3.0 (compatible; Tertulia)");
    AddHeader(head, "Cookie", cookieHeader);
    head += "\r\n";
    return head;
}

}  // namespace tertulia
