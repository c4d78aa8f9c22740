#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "base/md5.h"
#include "session/console_key.h"
#include "session/error_report.h"
#include "tests/session/console_harness.h"
#include "tests/support/scripted_service.h"
#include "tests/support/table_rows.h"
#include "tests/support/temporary_directory.h"

namespace tertulia {
namespace {

namespace fs = std::filesystem;
using testing::ConsoleHarness;
using testing::ScriptedService;

const std::string kNews = "/tertulia.php?accion=get_news&idempresa=acme&idsesion=";

std::string Chat(int id, const std::string& idSesion = "s1") {
    return "/tertulia.php?accion=getchat&idempresa=acme&idsesion=" + idSesion +
           "&idsesionclt=" + std::to_string(id);
}

// A console that has started up and shows the login panel, with "acme" typed in.
struct ConsoleTest : ::testing::Test {
    ConsoleTest() {
        harness.console.FormCreate();
        harness.view.companyCode = "acme";
        harness.view.password = "secreta";
    }
    // Logs in as session "s1"; the first news poll gets `news`.
    void LogIn(const std::string& news, const std::string& idSesion = "s1") {
        server.Reply("OK=" + idSesion);
        server.Reply(news);
    }
    ScriptedService server;
    ConsoleHarness harness{server.Url()};
    testing::EventLog& log = harness.log;
    testing::RecordingConsoleView& view = harness.view;
};

TEST_F(ConsoleTest, StartUpChecksForUpdatesOnceAtTheTopRight) {
    server.Reply("ACTUALIZADA.");
    harness.console.FormShow();
    EXPECT_TRUE(server.Targets().empty()) << "runs after the window appeared";
    view.RunPosted();
    EXPECT_EQ(view.left, 1920 - 192 - 5);
    EXPECT_EQ(view.top, 20);
    EXPECT_EQ(log, (testing::EventLog{"panel pnTransfer", "repaint", "panel pnLogin"}));
    EXPECT_EQ(server.Targets(),
              std::vector<std::string>{"/gl/chkupdate.php?accion=check&prgid=TR&ver=1&rel=1"});

    view.left = -1;
    harness.console.FormShow();
    view.RunPosted();
    EXPECT_EQ(view.left, -1) << "a second showing does not move the window";
    EXPECT_EQ(server.Targets().size(), 1u);
}

// What the start-up makes of each outcome of the update check: the login panel, the transfer
// panel left on screen, or the program's end.
TEST(ConsoleStartUpTest, the_update_outcome_decides_the_panel) {
    const std::string program = "#!/bin/sh\nexit 0\n";
    struct Row {
        const char* name;
        std::string check;  // the update check's reply, or a whole raw reply
        bool agree;
        bool starts;
        testing::EventLog log;
        int quits;
    };
    const Row rows[] = {
        {"up to date",
         "ACTUALIZADA.",
         true,
         true,
         {"panel pnTransfer", "repaint", "panel pnLogin"},
         0},
        {"a failed check shows its message before the login panel",
         "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
         true,
         true,
         {"panel pnTransfer", "repaint", "error ERROR : \nHTTP/1.1 500 Internal Server Error",
          "panel pnLogin"},
         0},
        {"declined",
         "DESACTUALIZADA.AB,http://127.0.0.1:9/x",
         false,
         true,
         {"panel pnTransfer", "repaint",
          "confirm Hay una Actualizacion Disponible desea Actualizar?"},
         0},
        {"a digest mismatch leaves the transfer panel",
         "DESACTUALIZADA.AB,",
         true,
         true,
         {"panel pnTransfer", "repaint",
          "confirm Hay una Actualizacion Disponible desea Actualizar?",
          "error El Archivo de Actualizacion no se Descargo Adecuadamente Intente de Nuevo"},
         0},
        {"a program that does not start leaves the transfer panel",
         "DESACTUALIZADA." + Md5TextOfString(program) + ",",
         true,
         false,
         {"panel pnTransfer", "repaint",
          "confirm Hay una Actualizacion Disponible desea Actualizar?",
          "warning Error: No se pudo ejecutar la aplicaci\xF3n"},
         0},
        {"a started program ends this one",
         "DESACTUALIZADA." + Md5TextOfString(program) + ",",
         true,
         true,
         {"panel pnTransfer", "repaint",
          "confirm Hay una Actualizacion Disponible desea Actualizar?"},
         1},
    };
    testing::TemporaryDirectory tmp;
    const char* saved = std::getenv("TMPDIR");
    const std::string restore = saved ? saved : "";
    ::setenv("TMPDIR", tmp.path().c_str(), 1);
    testing::ForEachRow(rows, [&](const Row& row) {
        ScriptedService server;
        const bool outdated = row.check.starts_with("DESACTUALIZADA");
        if (row.check.starts_with("HTTP/")) {
            server.ReplyRaw(row.check);
        } else {
            // The download address is the scripted server's own.
            server.Reply(outdated ? row.check + server.Url() + "/x" : row.check);
        }
        if (outdated && row.agree) server.Reply(program);
        ConsoleHarness harness(server.Url(), "/nonexistent",
                               [&row](const std::string&) { return row.starts; });
        harness.view.confirmAnswer = row.agree;
        harness.console.FormShow();
        harness.view.RunPosted();
        EXPECT_EQ(harness.log, row.log);
        EXPECT_EQ(harness.view.quits, row.quits);
    });
    saved ? ::setenv("TMPDIR", restore.c_str(), 1) : ::unsetenv("TMPDIR");
}

TEST(ConsoleCreationTest, ReadsTheCompanyCodeAndStoresItAtTheEnd) {
    ConsoleHarness harness("http://127.0.0.1:9");
    harness.settings["General/IdEmpresa"] = "acme";
    harness.console.FormCreate();
    EXPECT_EQ(harness.view.companyCode, "acme");
    EXPECT_TRUE(harness.view.loadedSound.empty()) << "no sonido.wav there";
    harness.view.companyCode = "nunca usada";
    harness.console.Salir1Click();
    EXPECT_EQ(harness.view.quits, 1);
    harness.console.FormDestroy();
    EXPECT_EQ(harness.settings["General/IdEmpresa"], "nunca usada");
}

TEST(ConsoleCreationTest, ASettingsFailureIsReportedAndTheConsoleStillComesUp) {
    const testing::TemporaryDirectory temporary;
    const fs::path directory = temporary.path();
    std::ofstream(directory / "sonido.wav") << "RIFF";
    ConsoleHarness harness("http://127.0.0.1:9", directory.string());
    harness.settingsOpen = false;
    harness.console.FormCreate();
    EXPECT_EQ(harness.view.applicationErrors,
              std::vector<std::string>{"Cannot open the settings."});
    EXPECT_EQ(harness.view.loadedSound, (directory / "sonido.wav").string());
    harness.console.FormDestroy();
    EXPECT_TRUE(harness.settings.empty());
}

TEST(ConsoleCreationTest, WindowHandlers) {
    ConsoleHarness harness("http://127.0.0.1:9");
    EXPECT_FALSE(harness.console.FormCloseQuery());
    EXPECT_FALSE(harness.view.windowVisible);
    harness.console.TrayIcon1DblClick();
    EXPECT_TRUE(harness.view.windowVisible);
    harness.console.FormCloseQuery();
    harness.console.AbrirVentana1Click();
    EXPECT_TRUE(harness.view.windowVisible);
    harness.console.ListBoxWImg1DblClick();  // nothing selected, nothing listed
}

TEST_F(ConsoleTest, ASuccessfulLoginPollsTheNewsAtOnce) {
    LogIn("OK,", "a=b");
    harness.console.btConectarClick();
    const std::string key = harness.settings["Servicio/Consola"];
    EXPECT_TRUE(IsConsoleKey(key)) << "made at creation and stored: " << key;
    EXPECT_EQ(server.Targets(),
              (std::vector<std::string>{"/tertulia.php?accion=do_login&idempresa=acme&contrasena=" +
                                            Md5TextOfString("secreta") + "&consola=" + key,
                                        kNews + "a=b"}));
    EXPECT_EQ(log, (testing::EventLog{"panel pnTransfer", "repaint", "panel pnTransfer", "repaint",
                                      "panel pnChat"}));
    EXPECT_TRUE(harness.tmIdle.Enabled());
    EXPECT_EQ(harness.tmIdle.interval, 30000);
}

TEST_F(ConsoleTest, CerrarEndsTheLoggedInSessionOnTheServiceThenQuits) {
    harness.console.Salir1Click();
    EXPECT_TRUE(server.Targets().empty()) << "never logged in: nothing to end";
    EXPECT_EQ(view.quits, 1);

    LogIn("OK,");
    harness.console.btConectarClick();
    const auto connect = harness.http.ConnectTimeout();
    const auto read = harness.http.ReadTimeout();
    const auto pace = harness.http.MinimumPace();
    view.companyCode = "otra";  // typed, never logged in with
    server.Reply("OK");
    harness.console.Salir1Click();
    EXPECT_EQ(server.Targets().back(), "/tertulia.php?accion=do_logout&idempresa=acme&idsesion=s1");
    EXPECT_EQ(view.quits, 2);
    EXPECT_EQ(harness.http.ConnectTimeout(), connect) << "the brief waits are given back";
    EXPECT_EQ(harness.http.ReadTimeout(), read);
    EXPECT_EQ(harness.http.MinimumPace().headWithin, pace.headWithin);

    server.Drop();
    harness.console.Salir1Click();
    EXPECT_EQ(view.quits, 3) << "a service out of reach does not keep the program";
    server.Reply("ERROR: Acci\xF3n desconocida.");
    harness.console.Salir1Click();
    EXPECT_EQ(view.quits, 4) << "nor an older service that does not know the action";
    EXPECT_TRUE(view.errors.empty());
}

TEST(ConsoleKeyTest, MadeOnceThenKeptAndMadeAgainWhenNotAKey) {
    struct Row {
        const char* name;
        std::optional<std::string> stored;
        std::string key;
        int made;
    };
    const std::string mine = "0123456789ABCDEF0123456789abcdef";
    const std::string made(32, 'c');
    const Row rows[] = {
        {"none stored: made and stored", std::nullopt, made, 1},
        {"a key stored: kept as it is", mine, mine, 0},
        {"not a key: made again", "0123", made, 1},
    };
    testing::ForEachRow(rows, [&](const Row& row) {
        std::map<std::string, std::string> values;
        if (row.stored) values["Servicio/Consola"] = *row.stored;
        testing::MemorySettings store(values);
        int calls = 0;
        EXPECT_EQ(ConsoleKey(store, [&] { return ++calls, made; }), row.key);
        EXPECT_EQ(calls, row.made);
        EXPECT_EQ(values["Servicio/Consola"], row.key);
    });
    const std::string first = NewConsoleKey();
    EXPECT_TRUE(IsConsoleKey(first)) << first;
    EXPECT_EQ(first.find_first_not_of("0123456789abcdef"), std::string::npos) << first;
    EXPECT_NE(NewConsoleKey(), first);
}

TEST_F(ConsoleTest, RefusedAndFailedLoginsEndOnTheLoginPanel) {
    server.Reply("ERROR: clave");
    harness.console.btConectarClick();
    EXPECT_EQ(log, (testing::EventLog{"panel pnTransfer", "repaint", "panel pnLogin", "repaint",
                                      "error ERROR: clave"}));
    log.clear();
    server.Reply("ok=a");
    harness.console.btConectarClick();
    EXPECT_EQ(log, (testing::EventLog{"panel pnTransfer", "repaint", "panel pnLogin"}));
    log.clear();
    server.ReplyRaw("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    harness.console.btConectarClick();
    EXPECT_EQ(log, (testing::EventLog{"panel pnTransfer", "repaint",
                                      "error ERROR : \nHTTP/1.1 404 Not Found", "panel pnLogin"}));
    EXPECT_FALSE(harness.tmIdle.Enabled());
}

TEST_F(ConsoleTest, ANewsListOpensEachNewConversationInOrderAndReportsABadId) {
    LogIn("OK,5=Ana|7|z=y|");
    harness.console.btConectarClick();
    EXPECT_EQ(server.Targets(), (std::vector<std::string>{server.Targets()[0], kNews + "s1"}))
        << "the new windows do not have the focus: their first polls fetch nothing";
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"5=Ana", "7="}));
    EXPECT_EQ(view.listItems, (std::vector<std::string>{"Ana", ""}));
    EXPECT_EQ(view.status, "'z' is not a valid integer value");
    EXPECT_TRUE(harness.tmIdle.Enabled());
    EXPECT_EQ(view.panel, Panel::pnChat);
    ASSERT_EQ(view.chats.size(), 2u);
    EXPECT_TRUE(harness.Chat(0).messageFocusForLater);
    server.Reply("Ana: hola");
    harness.Chat(0).TakeFocus();
    EXPECT_EQ(harness.Chat(0).transcript, "Ana: hola") << "fetched once the operator turns to it";
    EXPECT_EQ(harness.Listed()[1].window->IdSesionClt(), 7);
    const testing::EventLog opening(log.begin() + 5, log.begin() + 9);
    EXPECT_EQ(opening, (testing::EventLog{"chat show in background Conversacion con : Ana", "sound",
                                          "sound", "list add Ana"}));
    EXPECT_EQ(view.plays, 4);

    // A second login to the same company keeps the windows and sends the new session id.
    LogIn("OK,5=Eva|9=Luis|", "s2");
    harness.console.btConectarClick();
    server.Reply("");
    harness.Chat(2).TakeFocus();
    EXPECT_EQ(server.Targets().back(), Chat(9, "s2"));
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"5=Ana", "7=", "9=Luis"}));

    view.selected = 2;
    harness.Chat(2).Hide();
    harness.console.ListBoxWImg1DblClick();
    EXPECT_TRUE(harness.Chat(2).IsVisible());
}

TEST_F(ConsoleTest, NewsRepliesOtherThanAListStopThePollOnTheLoginPanel) {
    struct Row {
        const char* proves;
        std::string reply;
        testing::EventLog tail;
        std::string status;
    };
    const Row rows[] = {
        {"ERROR. goes to the status line", "ERROR.x", {"panel pnLogin", "repaint"}, "ERROR.x"},
        {"ERROR shows a dialog, then the login panel",
         "ERRORx",
         {"error ERRORx", "panel pnLogin"},
         "Ok"},
        {"anything else", "nada", {"panel pnLogin"}, "Ok"},
    };
    for (const Row& row : rows) {
        server.Reply(row.reply);
        log.clear();
        harness.console.tmIdleTimer();
        testing::EventLog expected{"panel pnTransfer", "repaint"};
        expected.insert(expected.end(), row.tail.begin(), row.tail.end());
        EXPECT_EQ(log, expected) << row.proves;
        EXPECT_NE(std::find(view.statusHistory.begin(), view.statusHistory.end(), row.status),
                  view.statusHistory.end())
            << row.proves;
        EXPECT_FALSE(harness.tmIdle.Enabled()) << row.proves;
    }
}

TEST_F(ConsoleTest, ASoundThatCannotPlayNeverStopsOpeningListingOrPolling) {
    view.soundWorks = false;
    LogIn("OK,5=Ana|6=Eva|");
    harness.console.btConectarClick();
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"5=Ana", "6=Eva"}));
    EXPECT_TRUE(harness.tmIdle.Enabled());
    EXPECT_EQ(view.status, "Ok");
}

TEST_F(ConsoleTest, AFailingFirstPollLeavesTheWindowListedReportsAndPollsAgain) {
    view.windowManagerActivates = true;  // so that the first poll fetches
    LogIn("OK,5=Ana|6=Eva|");
    server.Drop();
    harness.console.btConectarClick();
    EXPECT_EQ(harness.ListedIds(), std::vector<std::string>{"5=Ana"});
    EXPECT_EQ(view.chats.size(), 1u);
    EXPECT_EQ(view.status, "Connection Closed Gracefully.");
    EXPECT_TRUE(harness.tmIdle.Enabled());

    // The next poll opens what is missing and no second window for 5.
    server.Reply("OK,5=Ana|6=Eva|");
    server.Reply("");
    harness.tmIdle.Fire();
    EXPECT_EQ(harness.ListedIds(), (std::vector<std::string>{"5=Ana", "6=Eva"}));
    EXPECT_EQ(view.chats.size(), 2u);
}

TEST_F(ConsoleTest, ProgressOfATransferThroughTheHandlers) {
    // 1000 body bytes come with the head, the rest later.
    server.ReplyInPieces({"HTTP/1.1 200 OK\r\nContent-Length: 51200\r\nConnection: close\r\n\r\n" +
                              std::string(1000, 'a'),
                          std::string(50200, 'b')});
    std::vector<std::int32_t> gauge;
    view.onStatus = [&] { gauge.push_back(view.gaugeProgress); };
    harness.console.tmIdleTimer();
    EXPECT_EQ(view.statusHistory,
              (std::vector<std::string>{"Transfiriendo : 51200", "1000 bytes de 51200 bytes.",
                                        "33768 bytes de 51200 bytes.",
                                        "51200 bytes de 51200 bytes.", "Ok"}));
    EXPECT_EQ(view.gaugeMax, 51200);
    EXPECT_EQ(view.gaugeProgress, 51200);

    // Read until the server closes: no maximum, counts only.
    view.statusHistory.clear();
    server.ReplyRaw("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\nnada");
    harness.console.tmIdleTimer();
    EXPECT_EQ(view.statusHistory, (std::vector<std::string>{"4 bytes.", "Ok"}));
    EXPECT_EQ(view.gaugeMax, 0);
    EXPECT_EQ(view.gaugeProgress, 0);
}

TEST(ErrorReportTest, AFullStopIsAddedAfterCharactersAboveIt) {
    EXPECT_EQ(ApplicationErrorText("HTTP/1.1 404 Not Found"), "HTTP/1.1 404 Not Found.");
    EXPECT_EQ(ApplicationErrorText("Connection Closed Gracefully."),
              "Connection Closed Gracefully.");
    EXPECT_EQ(ApplicationErrorText("Socket Error # 10061\r\nConnection refused."),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(ApplicationErrorText("falla -"), "falla -");  // 45 is below the full stop
    EXPECT_EQ(ApplicationErrorText("fin /"), "fin /.");     // 47 is above it
    EXPECT_EQ(ApplicationErrorText(""), "");
}

}  // namespace
}  // namespace tertulia
