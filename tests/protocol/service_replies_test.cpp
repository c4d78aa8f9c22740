#include "protocol/service_replies.h"

#include <gtest/gtest.h>

namespace tertulia {
namespace {

// What the service writes, the console reads back to the same values.
TEST(ServiceRepliesTest, each_reply_reads_back_to_what_was_written) {
    EXPECT_EQ(LeerRespuestaLogin(WriteLoginReply("a1b2")),
              (LoginReply{LoginReply::Kind::Ok, "a1b2"}));
    EXPECT_TRUE(LeerRespuestaCierre(WriteCloseReply()).ok);
    EXPECT_TRUE(LeerRespuestaCierreSesion(WriteLogoutReply()).ok);
    const auto [name, value] = LineNotStoredHeader();
    EXPECT_EQ(name, kCabeceraLinea);
    EXPECT_TRUE(LineaNoGuardada(value));

    const std::vector<NewsEntry> entries = {{5, "Ana"},
                                            {-7,
                                             "Jos\xE9 Mar\xED"
                                             "a"},
                                            {9, ""}};
    const std::vector<VisitorLines> lines = {{5, 3}, {-7, 0}, {9, 4294967296}};
    const NewsReply news = LeerRespuestaNoticias(WriteNewsReply(entries, lines));
    EXPECT_EQ(news.kind, NewsReply::Kind::List);
    EXPECT_EQ(news.entries, entries);
    EXPECT_EQ(news.visitorLines, lines);
    EXPECT_FALSE(news.stoppedAtBadId);
    const NewsReply none = LeerRespuestaNoticias(WriteNewsReply({}, {}));
    EXPECT_EQ(none.kind, NewsReply::Kind::List);
    EXPECT_TRUE(none.entries.empty());

    for (const UpdateReply& update :
         {UpdateReply{}, UpdateReply{true, "0CC175B9C0F1B6A831C399E269772661",
                                     "http://127.0.0.1:8080/gl/descargas/tertulia-1.2"}}) {
        EXPECT_EQ(LeerRespuestaActualizacion(WriteUpdateReply(update)), update);
    }
}

}  // namespace
}  // namespace tertulia
