#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/session/console_harness.h"
#include "tests/support/service_process.h"
#include "tests/support/temporary_directory.h"
#include "tests/support/whole_file.h"

namespace tertulia {
namespace {

namespace fs = std::filesystem;
using testing::ConsoleHarness;
using testing::GetPath;
using testing::JsonMember;
using testing::OpenConversation;
using testing::PostForm;
using testing::ReadWholeFile;
using testing::RunService;
using testing::ServiceProcess;

TEST(ServiceIntegrationTest, AVisitorsConversationFromOpeningToCloseAndDelete) {
    ServiceProcess service;
    const auto [id, token] = OpenConversation(service.Port(), "Ana");

    ConsoleHarness harness(service.Url());
    harness.ShowAndLogInAsDemo();
    EXPECT_EQ(harness.view.panel, Panel::pnChat);
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{id + "=Ana"});
    EXPECT_TRUE(harness.tmIdle.Enabled());
    ASSERT_EQ(harness.view.chats.size(), 1u);
    auto& chat = harness.Chat(0);
    EXPECT_EQ(chat.caption, "Conversacion con : Ana");

    // The window's poll brings the visitor's line.
    ASSERT_EQ(PostForm(service.Port(), "/api/conversaciones/" + id + "/mensajes",
                       "token=" + token + "&texto=Necesito+ayuda")
                  .status,
              200);
    chat.TakeFocus();
    EXPECT_NE(chat.transcript.find("Necesito ayuda"), std::string::npos) << chat.transcript;

    // The operator's line reaches the visitor with its accented letters and the euro sign.
    chat.message =
        "  \xBFQu\xE9 tal? A\xF1o 2024, s\xED, \x80"
        "50  ";
    chat.handlers->edMensajeKeyPress('\r');
    EXPECT_EQ(chat.message, "");
    EXPECT_NE(chat.transcript.find("\xBFQu\xE9 tal? A\xF1o 2024, s\xED, \x80"
                                   "50"),
              std::string::npos)
        << chat.transcript;
    const auto visitorView =
        GetPath(service.Port(), "/api/conversaciones/" + id + "?token=" + token);
    EXPECT_NE(visitorView.body.find("\xC2\xBFQu\xC3\xA9 tal? A\xC3\xB1o 2024, s\xC3\xAD, "
                                    "\xE2\x82\xAC"
                                    "50"),
              std::string::npos)
        << visitorView.body;

    // A second poll of the news keeps the one window.
    harness.tmIdle.Fire();
    EXPECT_EQ(harness.view.chats.size(), 1u);

    // Close and delete, saving the transcript first.
    const fs::path copy = fs::path(service.Directory()) / "copia.txt";
    chat.confirmAnswer = true;
    harness.saveDialog.answer = copy.string();
    const std::string shown = chat.transcript;
    chat.handlers->sbCerraryBorrarClick();
    EXPECT_EQ(ReadWholeFile(copy), shown);
    EXPECT_TRUE(harness.Listed().empty());
    EXPECT_TRUE(harness.view.listItems.empty());
    EXPECT_EQ(harness.view.chats.size(), 1u) << "destroyed only after the handler returned";
    harness.view.RunPosted();
    EXPECT_TRUE(harness.view.chats.empty());
    const auto closed = GetPath(service.Port(), "/api/conversaciones/" + id + "?token=" + token);
    EXPECT_EQ(JsonMember(closed.body, "abierta"), "false") << closed.body;
}

// The demo company's visitors are each answered by one console.
TEST(ServiceIntegrationTest, ALeavingConsoleHandsItsVisitorsOnAndARestartedOneGetsItsOwnBack) {
    ServiceProcess service;
    std::vector<std::string> visitors;
    for (const std::string name : {"Ana", "Eva", "Luis"}) {
        visitors.push_back(OpenConversation(service.Port(), name).id + "=" + name);
    }
    ConsoleHarness first(service.Url());
    first.ShowAndLogInAsDemo();
    EXPECT_EQ(first.ListedIds(), visitors);
    ConsoleHarness second(service.Url());
    second.ShowAndLogInAsDemo();
    EXPECT_TRUE(second.ListedIds().empty()) << "the first console answers them";

    first.console.Salir1Click();
    EXPECT_EQ(first.view.quits, 1);
    second.tmIdle.Fire();
    EXPECT_EQ(second.ListedIds(), visitors) << "handed on at once, not after the owner's silence";

    // The second console dies without a word; started again, with its settings, its first news
    // poll lists its own, and the session it left is over.
    ConsoleHarness restarted(service.Url());
    restarted.settings = second.settings;
    restarted.ShowAndLogInAsDemo();
    EXPECT_EQ(restarted.ListedIds(), visitors);
    second.tmIdle.Fire();
    EXPECT_EQ(second.view.panel, Panel::pnLogin) << "its session is gone";
}

TEST(ServiceIntegrationTest, ALineIntoAnotherConsolesConversationStaysWithTheReason) {
    ServiceProcess service;
    const std::string database = service.Directory() + "/service.db";
    ASSERT_EQ(RunService({"company-option", "demo", "reparto=todos", "--db", database}), 0);
    const auto ana = OpenConversation(service.Port(), "Ana");
    ConsoleHarness first(service.Url());
    first.ShowAndLogInAsDemo();
    ConsoleHarness second(service.Url());
    second.ShowAndLogInAsDemo();
    ASSERT_EQ(first.view.chats.size(), 1u);
    ASSERT_EQ(second.view.chats.size(), 1u) << "every console lists every visitor";
    ASSERT_EQ(RunService({"company-option", "demo", "reparto=uno", "--db", database}), 0);

    auto& mine = first.Chat(0);
    mine.message = "buenas";
    mine.handlers->edMensajeKeyPress('\r');
    EXPECT_EQ(mine.message, "") << "stored: the first to write answers Ana";

    auto& other = second.Chat(0);
    other.message = " le atiendo yo ";
    other.handlers->edMensajeKeyPress('\r');
    EXPECT_EQ(other.message, "le atiendo yo") << "not stored: kept for the operator";
    EXPECT_EQ(other.status,
              "Esta conversaci\xF3n la atiende otra consola. Ci\xE9rrela con \xAB"
              "Cerrar y Borrar Historial\xBB.");
    const auto visitorView =
        GetPath(service.Port(), "/api/conversaciones/" + ana.id + "?token=" + ana.token);
    EXPECT_EQ(visitorView.body.find("le atiendo yo"), std::string::npos) << visitorView.body;
}

TEST(ServiceIntegrationTest, AnOfferedUpdateIsDownloadedVerifiedAndStarted) {
    testing::TemporaryDirectory directory;
    const fs::path work = directory.path();
    fs::create_directories(work / "tmp");
    const fs::path marker = work / "started";
    const fs::path update = work / "new-console";
    // The marker appears whole or not at all: it is written under another name and renamed.
    std::ofstream(update) << "#!/bin/sh\necho \"$0\" > '" << marker.string() << ".part' && mv '"
                          << marker.string() << ".part' '" << marker.string() << "'\n";

    ServiceProcess service(
        {.arguments = {"--update-file", update.string(), "--update-version", "1.2"}});
    const char* savedTmp = std::getenv("TMPDIR");
    const std::string restoreTmp = savedTmp ? savedTmp : "";
    ::setenv("TMPDIR", (work / "tmp").c_str(), 1);

    ConsoleHarness harness(service.Url());
    harness.console.FormCreate();
    harness.console.FormShow();
    harness.view.RunPosted();

    savedTmp ? ::setenv("TMPDIR", restoreTmp.c_str(), 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(harness.view.quits, 1);
    EXPECT_EQ(harness.view.panel, Panel::pnTransfer);
    for (int tries = 0; tries < 3000 && !fs::exists(marker); ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::exists(marker));
    const std::string started = ReadWholeFile(marker);
    EXPECT_EQ(started.substr(0, (work / "tmp/~tm").string().size()), (work / "tmp/~tm").string());
    EXPECT_TRUE(started.ends_with(".exe\n")) << started;
    const fs::path program = started.substr(0, started.size() - 1);
    EXPECT_EQ(ReadWholeFile(program), ReadWholeFile(update));
    EXPECT_EQ(fs::status(program).permissions(), fs::perms::owner_all);
}

}  // namespace
}  // namespace tertulia
