#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <thread>

#include "direct_connection.h"
#include "fresh_database.h"
#include "service/secrets.h"
#include "tests/support/table_rows.h"

namespace tertulia::testing {
namespace {

constexpr std::int64_t kDay = 24 * 3600;

// The storage tests run once on each engine.
class StorageTest : public ::testing::TestWithParam<Backend> {
  protected:
    void SetUp() override {
        if (!database_.Skip().empty()) GTEST_SKIP() << database_.Skip();
        storage_ = Open();
        ASSERT_TRUE(storage_->companies.AddCompany("demo", "DIGEST"));
    }

    std::unique_ptr<Storage> Open() {
        return Storage::Open(database_.location(), [this] { return now_.load(); });
    }

    std::int64_t Company() {
        const auto session = storage_->sessions.Login("demo", "DIGEST");
        return *storage_->sessions.SessionCompany("demo", *session);
    }

    NewConversation Conversation(const std::string& name = "Ana", unsigned maxWaiting = 0) {
        const OpenedConversation opened =
            storage_->conversations.OpenConversation("demo", name, maxWaiting);
        if (opened.outcome != OpenedConversation::Outcome::Opened) {
            throw std::runtime_error("not opened");
        }
        return opened.conversation;
    }

    // The rows of the company's tables, whatever company they belong to.
    std::int64_t Rows() {
        return DirectConnection(GetParam(), database_.location())
            .Number(
                "SELECT (SELECT COUNT(*) FROM companies) + (SELECT COUNT(*) FROM conversations) + "
                "(SELECT COUNT(*) FROM messages) + (SELECT COUNT(*) FROM operator_sessions)");
    }

    std::atomic<std::int64_t> now_ = 1'700'000'000;
    FreshDatabase database_{GetParam()};
    std::unique_ptr<Storage> storage_;
};

TEST_P(StorageTest, lines_are_counted_within_the_caps_of_their_conversation) {
    const std::int64_t company = Company();
    const NewConversation ana = Conversation();
    const ConversationCaps caps{3, 10};
    struct Row {
        const char* name;
        bool fromOperator;
        std::string text;
        LineResult result;
    };
    const Row rows[] = {
        {"visitor_line", false, "hola", LineResult::Stored},
        {"operator_line", true, "buenas", LineResult::Stored},
        {"over_the_bytes", false, "x", LineResult::Full},
        {"bytes_are_utf8_bytes_not_characters", false, "\xC3\xB1", LineResult::Full},
    };
    ForEachRow(rows, [&](const Row& row) {
        const LineResult result =
            row.fromOperator
                ? storage_->conversations.AddOperatorLine(company, ana.id, row.text, caps)
                : storage_->conversations.AddVisitorLine(ana.id, ana.token, row.text, caps);
        EXPECT_EQ(result, row.result);
    });
    EXPECT_EQ(storage_->conversations.AddVisitorLine(ana.id, "otra-ficha", "y", {}),
              LineResult::NotFound);
    EXPECT_EQ(storage_->conversations.AddOperatorLine(company + 1, ana.id, "y", {}),
              LineResult::NotFound);
    EXPECT_EQ(storage_->conversations.AddVisitorLine(ana.id, ana.token, "y", {2, 0}),
              LineResult::Full)
        << "two lines already";

    const auto listed = storage_->conversations.OpenConversations(company);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].visitorLines, 1) << "the operator's lines are not the visitor's";
    const auto messages = storage_->conversations.Messages(ana.id);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, "buenas");
    EXPECT_TRUE(messages[1].fromOperator);

    EXPECT_EQ(storage_->conversations.Close(company, ana.id), CloseResult::Closed);
    EXPECT_EQ(storage_->conversations.Close(company, ana.id), CloseResult::AlreadyClosed);
    EXPECT_EQ(storage_->conversations.AddVisitorLine(ana.id, ana.token, "y", {}),
              LineResult::Closed);
    EXPECT_TRUE(storage_->conversations.OpenConversations(company).empty());
}

// In a company of one console each, an operator's line and close are refused by the
// statement that would store them while the conversation is another live session's.
TEST_P(StorageTest, a_send_and_a_close_keep_to_the_owner_until_its_claim_lapses) {
    storage_->sessions.SetOwnerSilence(60);
    const auto a = storage_->sessions.Session("demo", *storage_->sessions.Login("demo", "DIGEST"));
    const auto b = storage_->sessions.Session("demo", *storage_->sessions.Login("demo", "DIGEST"));
    ASSERT_TRUE(a && b && a->oneConsole);
    const NewConversation ana = Conversation();
    ASSERT_EQ(storage_->sessions.Claim(*a, ana.id), ClaimResult::Mine);
    EXPECT_EQ(storage_->conversations.AddOperatorLine(*b, ana.id, "la atiendo yo", {}),
              LineResult::Owned);
    EXPECT_EQ(storage_->conversations.Close(*b, ana.id), CloseResult::Owned);
    EXPECT_EQ(storage_->conversations.AddOperatorLine(*a, ana.id, "buenas", {}),
              LineResult::Stored);
    now_ += 61;  // A has not asked for it since
    EXPECT_EQ(storage_->conversations.AddOperatorLine(*b, ana.id, "sigo yo", {}),
              LineResult::Stored);
    EXPECT_EQ(storage_->conversations.Close(*b, ana.id), CloseResult::Closed);
    EXPECT_EQ(storage_->sessions.Claim(*a, ana.id), ClaimResult::Free);
    EXPECT_EQ(storage_->conversations.Messages(ana.id).size(), 2u);
}

// What the visitor's page tells, and the service's own lines for the operator, which the visitor's
// stream and the caps leave out.
TEST_P(StorageTest, the_visitors_context_end_and_rating_are_kept) {
    const std::int64_t company = Company();
    EXPECT_TRUE(storage_->companies.SetName("demo", "Acme, S.A."));
    EXPECT_FALSE(storage_->companies.SetName("nadie", "x"));
    const auto front = storage_->companies.Front("demo", now_, 60);
    ASSERT_TRUE(front);
    EXPECT_EQ(front->name, "Acme, S.A.");
    EXPECT_TRUE(front->attended) << "logged in just now";
    EXPECT_FALSE(storage_->companies.Front("demo", now_ + 61, 60)->attended);
    EXPECT_TRUE(storage_->companies.SetName("demo", ""));
    EXPECT_EQ(storage_->companies.Front("demo", now_, 60)->name, "demo");

    const OpenedConversation left = storage_->conversations.OpenConversation(
        "demo", "Ana", 0, 0, {"ana@correo.example", "https://tienda.example/", "", "es"});
    const std::int32_t ana = left.conversation.id;
    const NewConversation eva = Conversation("Eva");
    storage_->conversations.AddVisitorLine(eva.id, eva.token, "hola", {});
    EXPECT_EQ(storage_->conversations.Context(ana).contact, "ana@correo.example");
    EXPECT_EQ(storage_->conversations.Context(ana).page, "https://tienda.example/");
    EXPECT_EQ(storage_->conversations.Context(eva.id).page, "");
    DirectConnection db(GetParam(), database_.location());
    EXPECT_EQ(db.Lines("SELECT visitor_name || ':' || offline || ':' || COALESCE(referrer, '-') || "
                       "':' || COALESCE(language, '-') FROM conversations ORDER BY id"),
              "Ana:1:-:es\nEva:0:-:-\n");

    now_ += 91;
    // Left with a contact, Ana's conversation has no page to go.
    storage_->conversations.NotePageGone(company, ana, now_ - 90, "ida");
    storage_->conversations.NotePageGone(company, eva.id, now_ - 90, "ida");
    storage_->conversations.NotePageGone(company, eva.id, now_ - 90, "ida");
    EXPECT_EQ(storage_->conversations.Messages(ana).size(), 0u);
    const auto evaLines = storage_->conversations.Messages(eva.id);
    ASSERT_EQ(evaLines.size(), 2u);
    EXPECT_TRUE(evaLines[1].fromService);
    EXPECT_FALSE(evaLines[1].fromOperator);
    EXPECT_EQ(storage_->conversations.LinesAfter(eva.id, 0, 10).lines.size(), 1u);
    EXPECT_EQ(storage_->conversations.EndByVisitor(eva.id, eva.token, "fin"),
              VisitorEndResult::Ended);
    EXPECT_EQ(storage_->conversations.EndByVisitor(eva.id, eva.token, "fin"),
              VisitorEndResult::AlreadyClosed);
    EXPECT_EQ(storage_->conversations.EndByVisitor(eva.id, "otra", "fin"),
              VisitorEndResult::NotFound);
    const ConversationNews news = storage_->conversations.LinesAfter(eva.id, 1, 10);
    EXPECT_FALSE(news.open);
    EXPECT_TRUE(news.lines.empty());
    EXPECT_EQ(db.Number("SELECT line_count FROM conversations WHERE visitor_name = 'Eva'"), 1);

    EXPECT_EQ(storage_->conversations.Rate(ana, left.conversation.token, true, ""),
              RatingResult::Open);
    EXPECT_EQ(storage_->conversations.Rate(eva.id, eva.token, false, "lento"),
              RatingResult::Stored);
    EXPECT_EQ(storage_->conversations.Rate(eva.id, eva.token, true, ""),
              RatingResult::AlreadyRated);
    EXPECT_EQ(storage_->conversations.Rate(eva.id, "otra", true, ""), RatingResult::NotFound);
    EXPECT_EQ(db.Lines("SELECT COALESCE(helped, -1) || ':' || COALESCE(rating_comment, '-') FROM "
                       "conversations ORDER BY id"),
              "-1:-\n0:lento\n");
}

TEST_P(StorageTest, waiting_conversations_are_capped_per_company) {
    Conversation("Ana", 2);
    Conversation("Eva", 2);
    EXPECT_EQ(storage_->conversations.OpenConversation("demo", "Luis", 2).outcome,
              OpenedConversation::Outcome::TooManyWaiting);
    EXPECT_EQ(storage_->conversations.OpenConversation("nadie", "Luis", 2).outcome,
              OpenedConversation::Outcome::NoCompany);
}

TEST_P(StorageTest, ids_grow_across_services_sharing_the_database) {
    const auto other = Open();
    std::int32_t last = 0;
    for (int i = 0; i < 6; ++i) {
        Storage& storage = i % 2 == 0 ? *storage_ : *other;
        const auto opened = storage.conversations.OpenConversation("demo", "V", 0);
        EXPECT_GT(opened.conversation.id, last);
        last = opened.conversation.id;
    }
    // Sessions, tokens and failed logins made through one are seen through the other.
    const auto session = other->sessions.Login("demo", "DIGEST");
    EXPECT_TRUE(storage_->sessions.SessionCompany("demo", *session));
    const NewConversation ana = Conversation();
    EXPECT_TRUE(other->conversations.VisitorConversation(ana.id, ana.token));
    other->loginAttempts.AttemptLogin("demo", "192.0.2.1");
    EXPECT_EQ(storage_->loginAttempts.AttemptLogin("demo", "192.0.2.1").addressFailures, 2u);
}

TEST_P(StorageTest, allowed_sites_per_company_go_with_the_company) {
    EXPECT_TRUE(storage_->companies.AllowSite("demo", "https://tienda.example"));
    EXPECT_TRUE(storage_->companies.AllowSite("demo", "https://blog.example"));
    EXPECT_TRUE(storage_->companies.AllowSite("demo", "https://blog.example")) << "twice is once";
    EXPECT_FALSE(storage_->companies.AllowSite("nadie", "https://blog.example"));
    EXPECT_EQ(storage_->companies.AllowedSites("demo"),
              (std::vector<std::string>{"https://blog.example", "https://tienda.example"}));
    EXPECT_TRUE(storage_->companies.DisallowSite("demo", "https://blog.example"));
    EXPECT_EQ(storage_->companies.AllowedSites("demo"),
              (std::vector<std::string>{"https://tienda.example"}));
    EXPECT_TRUE(storage_->companies.RemoveCompany("demo"));
    EXPECT_TRUE(storage_->companies.AddCompany("demo", "DIGEST"));
    EXPECT_TRUE(storage_->companies.AllowedSites("demo").empty());
}

TEST_P(StorageTest, ready_answers_per_company_are_replaced_sorted_and_go_with_the_company) {
    ReadyAnswers& answers = storage_->readyAnswers;
    const std::int64_t company = Company();
    const std::int64_t before = answers.Version(company);
    EXPECT_TRUE(answers.Set("demo", "salu-do", "Hola"));
    EXPECT_TRUE(answers.Set("demo", "adios", "Adiós\nHasta pronto"));
    EXPECT_TRUE(answers.Set("demo", "salu-do", "Buenos días")) << "replaced";
    EXPECT_FALSE(answers.Set("nadie", "x", "y"));
    EXPECT_EQ(answers.Of("demo"), (std::vector<StoredAnswer>{{"adios", "Adiós\nHasta pronto"},
                                                             {"salu-do", "Buenos días"}}));
    EXPECT_EQ(answers.Of("nadie"), std::nullopt);
    EXPECT_EQ(answers.Version(company), before + 3);
    EXPECT_EQ(answers.Remove("demo", "nada"), AnswerRemoval::NoAnswer);
    EXPECT_EQ(answers.Remove("nadie", "adios"), AnswerRemoval::NoCompany);
    EXPECT_EQ(answers.Version(company), before + 3) << "nothing changed";
    EXPECT_EQ(answers.Remove("demo", "adios"), AnswerRemoval::Removed);
    EXPECT_EQ(answers.Of(company), (std::vector<StoredAnswer>{{"salu-do", "Buenos días"}}));
    EXPECT_EQ(answers.Version(company), before + 4);
    EXPECT_TRUE(storage_->companies.RemoveCompany("demo"));
    EXPECT_EQ(DirectConnection(GetParam(), database_.location())
                  .Number("SELECT COUNT(*) FROM ready_answers"),
              0);
}

// The session that hands a conversation on is not given it again for ten minutes while another
// console is there; the others are.
TEST_P(StorageTest, a_conversation_handed_on_goes_to_the_other_consoles) {
    Sessions& sessions = storage_->sessions;
    const std::string aId = *sessions.Login("demo", "DIGEST");
    const std::string bId = *sessions.Login("demo", "DIGEST");
    const auto a = sessions.Session("demo", aId);
    const auto b = sessions.Session("demo", bId);
    ASSERT_TRUE(a && b && a->oneConsole);
    const NewConversation ana = Conversation();
    const std::string line = "La conversación pasa a otra consola.";
    const auto handOn = [&](const OperatorSession& session, std::int32_t id) {
        return storage_->conversations.HandOn(session, id, line, now_ - Sessions::kPresentSeconds);
    };
    ASSERT_EQ(sessions.Claim(*a, ana.id), ClaimResult::Mine);
    EXPECT_EQ(sessions.OtherConsoles(*a), 1);
    EXPECT_EQ(handOn(*b, ana.id), HandOnResult::Owned);
    EXPECT_EQ(handOn(*a, ana.id + 1000), HandOnResult::NotFound);
    EXPECT_EQ(handOn(*a, ana.id), HandOnResult::HandedOn);
    EXPECT_EQ(storage_->conversations.CompanyConversation(a->company, ana.id)->owner, "");
    const auto lines = storage_->conversations.Messages(ana.id);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].fromService);
    EXPECT_EQ(lines[0].text, line);
    EXPECT_EQ(sessions.Claim(*a, ana.id), ClaimResult::Other);

    now_ += Sessions::kPresentSeconds + 1;  // B silent: A is the only console left
    EXPECT_EQ(sessions.OtherConsoles(*a), 0);
    EXPECT_EQ(handOn(*a, ana.id), HandOnResult::Alone);
    EXPECT_EQ(sessions.Claim(*a, ana.id), ClaimResult::Mine);
    ASSERT_TRUE(sessions.Session("demo", bId));  // B is back
    EXPECT_EQ(handOn(*a, ana.id), HandOnResult::HandedOn);
    now_ += Sessions::kHandedOnSeconds - 30;
    ASSERT_TRUE(sessions.Session("demo", bId));
    EXPECT_EQ(sessions.Claim(*a, ana.id), ClaimResult::Other);
    now_ += 31;
    ASSERT_TRUE(sessions.Session("demo", bId));
    EXPECT_EQ(sessions.Claim(*a, ana.id), ClaimResult::Mine) << "ten minutes later";
    EXPECT_EQ(sessions.Claim(*b, ana.id), ClaimResult::Other);

    EXPECT_TRUE(storage_->conversations.Close(*a, ana.id) == CloseResult::Closed);
    EXPECT_EQ(handOn(*a, ana.id), HandOnResult::Closed);
}

TEST_P(StorageTest, failed_logins_count_in_a_row_and_are_forgotten) {
    // Each attempt counts before its check, per network and per company.
    EXPECT_EQ(storage_->loginAttempts.AttemptLogin("demo", "192.0.2.1").addressFailures, 1u);
    const LoginAttempt unknown = storage_->loginAttempts.AttemptLogin("nadie", "192.0.2.1");
    EXPECT_FALSE(unknown.companyExists);
    EXPECT_EQ(unknown.addressFailures, 2u);
    const LoginAttempt elsewhere = storage_->loginAttempts.AttemptLogin("demo", "192.0.2.2");
    EXPECT_EQ(elsewhere.addressFailures, 1u);
    EXPECT_EQ(elsewhere.companyFailures, 2u);
    storage_->loginAttempts.ForgetLoginFailures(elsewhere.keys);
    EXPECT_EQ(storage_->loginAttempts.AttemptLogin("demo", "192.0.2.2").companyFailures, 1u)
        << "forgotten";
    now_ += LoginAttempts::kFailureMemory + 1;
    EXPECT_EQ(storage_->loginAttempts.AttemptLogin("demo", "192.0.2.1").addressFailures, 1u)
        << "an hour without failures";
}

TEST_P(StorageTest, retention_removes_old_closed_conversations_and_never_an_open_one) {
    const std::int64_t company = Company();
    const NewConversation old = Conversation("Antigua");
    const NewConversation open = Conversation("Abierta");
    const NewConversation recent = Conversation("Reciente");
    for (int i = 0; i < 5; ++i) {
        storage_->conversations.AddVisitorLine(old.id, old.token, "línea " + std::to_string(i), {});
        storage_->conversations.AddVisitorLine(open.id, open.token, "línea", {});
    }
    storage_->conversations.Close(company, old.id);
    now_ += 20 * kDay;
    storage_->conversations.Close(company, recent.id);
    now_ += 11 * kDay;
    const auto session = storage_->sessions.Login("demo", "DIGEST");

    // Kept for ever with 0; then removed in batches of at most 3 rows.
    EXPECT_EQ(storage_->retention.RemoveExpired(0, 3), 1u) << "only the first session had lapsed";
    EXPECT_EQ(storage_->conversations.Messages(old.id).size(), 5u);
    EXPECT_EQ(storage_->retention.RemoveExpired(30 * kDay, 3), 3u);
    EXPECT_EQ(storage_->conversations.Messages(old.id).size(), 2u);
    EXPECT_EQ(storage_->retention.RemoveExpired(30 * kDay, 3), 3u)
        << "the last lines and the conversation";
    EXPECT_EQ(storage_->retention.RemoveExpired(30 * kDay, 3), 0u);

    EXPECT_FALSE(storage_->conversations.CompanyConversation(company, old.id));
    EXPECT_TRUE(storage_->conversations.CompanyConversation(company, recent.id))
        << "closed 11 days ago";
    EXPECT_EQ(storage_->conversations.Messages(open.id).size(), 5u);
    EXPECT_TRUE(storage_->sessions.SessionCompany("demo", *session));
    now_ += 365 * kDay;
    while (storage_->retention.RemoveExpired(30 * kDay, 3) != 0) {
    }
    EXPECT_TRUE(storage_->conversations.CompanyConversation(company, open.id))
        << "open a year, still there";
    EXPECT_EQ(storage_->conversations.Messages(open.id).size(), 5u);
    EXPECT_FALSE(storage_->conversations.CompanyConversation(company, recent.id));
    EXPECT_FALSE(storage_->sessions.SessionCompany("demo", *session));
}

TEST_P(StorageTest, reopening_keeps_everything_and_services_start_together) {
    const NewConversation ana = Conversation();
    storage_->conversations.AddVisitorLine(ana.id, ana.token, "hola", {});
    std::vector<std::thread> starts;
    std::atomic<int> started = 0;
    for (int i = 0; i < 4; ++i) {
        starts.emplace_back([&] {
            if (Open()->companies.HasCompanies()) ++started;
        });
    }
    for (std::thread& start : starts) start.join();
    EXPECT_EQ(started, 4);
    EXPECT_EQ(Open()->conversations.Messages(ana.id).size(), 1u);
}

TEST_P(StorageTest, a_database_of_a_newer_service_is_refused) {
    // What a later version would leave: a schema version beyond this service's.
    if (GetParam() == Backend::Sqlite) {
        storage_.reset();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(database_.location().c_str(), &db), SQLITE_OK);
        sqlite3_exec(db, "UPDATE service_state SET value = 99 WHERE name = 'schema_version'",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    } else {
        const std::unique_ptr<PGconn, decltype(&PQfinish)> db(
            PQconnectdb(database_.location().c_str()), &PQfinish);
        PQclear(
            PQexec(db.get(), "UPDATE service_state SET value = 99 WHERE name = 'schema_version'"));
    }
    try {
        Open();
        ADD_FAILURE() << "opened";
    } catch (const std::runtime_error& failure) {
        EXPECT_NE(std::string(failure.what()).find("versión 99"), std::string::npos)
            << failure.what();
    }
}

TEST_P(StorageTest, company_codes_are_unique_whatever_their_letter_case) {
    EXPECT_FALSE(storage_->companies.AddCompany("DEMO", "OTRO"));
    EXPECT_FALSE(storage_->companies.AddCompany("Demo", "OTRO"));
    EXPECT_TRUE(storage_->companies.AddCompany("acme", "OTRO"));
    EXPECT_TRUE(storage_->sessions.Login("demo", "DIGEST")) << "the first keeps its spelling";
}

TEST_P(StorageTest, a_company_is_removed_whole_while_its_visitors_and_operators_go_on) {
    std::atomic<bool> removed = false;
    std::atomic<int> stored = 0;
    std::atomic<int> full = 0;
    std::atomic<int> failed = 0;
    std::vector<std::thread> traffic;
    // An operator logs in again and again, adding sessions to the company.
    traffic.emplace_back([&] {
        while (!removed) {
            try {
                storage_->sessions.Login("demo", "DIGEST");
            } catch (const std::exception&) {
                // A login that meets the removal halfway may fail; the removal may not.
            }
        }
    });
    for (int i = 0; i < 4; ++i) {
        traffic.emplace_back([&] {
            while (!removed) {
                try {
                    const OpenedConversation opened =
                        storage_->conversations.OpenConversation("demo", "Ana", 0);
                    if (opened.outcome != OpenedConversation::Outcome::Opened) continue;
                    const NewConversation& ana = opened.conversation;
                    for (int n = 0; n < 3; ++n) {
                        const LineResult result =
                            storage_->conversations.AddVisitorLine(ana.id, ana.token, "hola", {});
                        if (result == LineResult::Stored) ++stored;
                        if (result == LineResult::Full) ++full;
                    }
                } catch (const std::exception& failure) {
                    ADD_FAILURE() << failure.what();
                    ++failed;
                }
            }
        });
    }
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (stored < 30 && failed == 0 && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    try {
        EXPECT_TRUE(storage_->companies.RemoveCompany("demo"));
    } catch (const std::exception& failure) {
        ADD_FAILURE() << "the removal failed: " << failure.what();
    }
    removed = true;
    for (std::thread& thread : traffic) thread.join();
    EXPECT_EQ(full, 0) << "a line to a conversation gone is not found";
    EXPECT_EQ(Rows(), 0);
}

// The services are told of the freed conversation by the same announcement as of any change
// (the event streams' tests hear it).
TEST_P(StorageTest, a_session_ends_by_logout_or_by_a_login_of_its_console) {
    const NewConversation ana = Conversation("Ana");
    const auto owner = [&] {
        return storage_->conversations.CompanyConversation(Company(), ana.id)->owner;
    };
    const auto claim = [&](const std::string& session) {
        return storage_->sessions.Claim(*storage_->sessions.Session("demo", session), ana.id);
    };

    const std::string crashed = *storage_->sessions.Login("demo", "DIGEST", "consola 1");
    EXPECT_EQ(claim(crashed), ClaimResult::Mine);
    const std::string other = *storage_->sessions.Login("demo", "DIGEST", "consola 2");
    EXPECT_EQ(claim(other), ClaimResult::Other);
    const std::string restarted = *storage_->sessions.Login("demo", "DIGEST", "consola 1");
    EXPECT_FALSE(storage_->sessions.Session("demo", crashed))
        << "the console's earlier session ended";
    EXPECT_EQ(owner(), Sha256Hex(restarted)) << "and its conversation passed on";
    EXPECT_TRUE(storage_->sessions.Session("demo", other)) << "another console's goes on";

    EXPECT_FALSE(storage_->sessions.EndSession("otra", restarted))
        << "not a session of that company";
    EXPECT_TRUE(storage_->sessions.EndSession("demo", restarted));
    EXPECT_FALSE(storage_->sessions.Session("demo", restarted));
    EXPECT_EQ(owner(), "");
    EXPECT_EQ(claim(other), ClaimResult::Mine);
    EXPECT_FALSE(storage_->sessions.EndSession("demo", restarted)) << "ended already";
}

// A session being added (which on PostgreSQL only shares the company row's lock, to check its
// reference) is waited for and removed too.
TEST_P(StorageTest, a_session_being_added_meanwhile_goes_with_the_company) {
    DirectConnection other(GetParam(), database_.location());
    other.Run("BEGIN");
    other.Run(
        "INSERT INTO operator_sessions (id_hash, company_id, last_seen) "
        "SELECT 'sesion', id, 0 FROM companies WHERE code = 'demo'");
    std::string outcome;
    std::thread remover([&] {
        try {
            outcome = storage_->companies.RemoveCompany("demo") ? "removed" : "not found";
        } catch (const std::exception& failure) {
            outcome = failure.what();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.Run("COMMIT");
    remover.join();
    EXPECT_EQ(outcome, "removed");
    EXPECT_EQ(Rows(), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, StorageTest,
                         ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         [](const auto& info) { return std::string(BackendName(info.param)); });

// Codes registered before the rule that differ only in case stay; the log says so, and no third
// spelling can join them.
TEST(SqliteUpgrade, older_codes_that_differ_only_in_case_are_kept_and_named_in_the_log) {
    TemporaryDirectory directory;
    const std::string path = directory.path() + "/service.db";
    Storage::Open(path, [] { return 0; })->companies.AddCompany("acme", "D");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "DROP INDEX companies_code_folded; INSERT INTO companies (code, salt, iterations, "
                 "hash) VALUES ('ACME', 's', 1, 'h')",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ::testing::internal::CaptureStderr();
    const auto storage = Storage::Open(path, [] { return 0; });
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("las empresas «acme» y «ACME» solo se distinguen por las mayúsculas"),
              std::string::npos)
        << log;
    EXPECT_FALSE(storage->companies.AddCompany("Acme", "D"));
    EXPECT_TRUE(storage->sessions.Login("acme", "D"));
}

TEST(SqliteUpgrade, a_file_from_before_schema_versions_gets_its_counts) {
    TemporaryDirectory directory;
    const std::string path = directory.path() + "/service.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* const before = R"SQL(
        CREATE TABLE companies (id INTEGER PRIMARY KEY, code TEXT NOT NULL UNIQUE,
            salt TEXT NOT NULL, iterations INTEGER NOT NULL, hash TEXT NOT NULL);
        CREATE TABLE operator_sessions (id_hash TEXT PRIMARY KEY,
            company_id INTEGER NOT NULL REFERENCES companies(id), last_seen INTEGER NOT NULL);
        CREATE TABLE service_state (name TEXT PRIMARY KEY, value INTEGER NOT NULL);
        CREATE TABLE conversations (id INTEGER PRIMARY KEY AUTOINCREMENT,
            company_id INTEGER NOT NULL REFERENCES companies(id), visitor_name TEXT NOT NULL,
            token_hash TEXT NOT NULL, open INTEGER NOT NULL, opened_at INTEGER NOT NULL);
        CREATE TABLE messages (id INTEGER PRIMARY KEY,
            conversation_id INTEGER NOT NULL REFERENCES conversations(id),
            from_operator INTEGER NOT NULL, text TEXT NOT NULL, sent_at INTEGER NOT NULL);
        INSERT INTO companies VALUES (1, 'demo', 's', 1, 'h');
        INSERT INTO conversations VALUES (7, 1, 'Ana', 't', 1, 100), (8, 1, 'Eva', 't', 0, 100);
        INSERT INTO messages VALUES (1, 7, 0, 'ñu', 101), (2, 7, 1, 'sí', 102), (3, 7, 0, 'x', 103),
            (4, 8, 0, 'adiós', 200);
    )SQL";
    ASSERT_EQ(sqlite3_exec(db, before, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    std::int64_t now = 200 + 30 * kDay;
    const auto storage = Storage::Open(path, [&] { return now; });
    const auto listed = storage->conversations.OpenConversations(1);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].id, 7);
    EXPECT_EQ(listed[0].visitorLines, 2);
    EXPECT_EQ(storage->conversations.AddVisitorLine(7, "", "y", {}), LineResult::NotFound)
        << "token hashed";
    EXPECT_EQ(storage->conversations.AddOperatorLine(1, 7, "ab", {0, 6}), LineResult::Full)
        << "ñu, sí and x hold 6 bytes already";
    // The closed one counts as closed after its last line, 30 days ago to the second.
    EXPECT_EQ(storage->retention.RemoveExpired(30 * kDay, 100), 0u);
    now += 1;
    EXPECT_EQ(storage->retention.RemoveExpired(30 * kDay, 100), 2u);
    EXPECT_EQ(storage->conversations.OpenConversation("demo", "Luis", 0).conversation.id, 9);
}

}  // namespace
}  // namespace tertulia::testing

namespace tertulia::testing {
namespace {

// Another process holding the file's write lock: writes wait for it only until their deadline,
// those queued behind them too, and reads go on.
TEST(SqliteDeadline, writes_wait_for_another_writer_only_until_their_deadline) {
    TemporaryDirectory directory;
    const std::string path = directory.path() + "/service.db";
    const auto storage = Storage::Open(
        path, [] { return 0; }, std::chrono::seconds(1));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::atomic<int> unavailable = 0;
    std::vector<double> took(3);
    std::vector<std::thread> writers;
    for (std::size_t i = 0; i < took.size(); ++i) {
        writers.emplace_back([&, i] {
            const auto start = std::chrono::steady_clock::now();
            try {
                storage->companies.AddCompany("acme" + std::to_string(i), "D");
            } catch (const DatabaseUnavailable&) {
                ++unavailable;
            }
            took[i] =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        });
    }
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(unavailable, 3);
    EXPECT_LT(*std::max_element(took.begin(), took.end()), 4.0);
    EXPECT_FALSE(storage->companies.HasCompanies());
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(storage->companies.AddCompany("acme", "D"));
}

// A request's deadline, from its arrival, bounds every wait of its transactions below the
// usual time-out; once it has passed they fail without waiting at all.
TEST(SqliteDeadline, a_requests_deadline_bounds_its_waits_and_once_past_refuses_at_once) {
    TemporaryDirectory directory;
    const std::string path = directory.path() + "/service.db";
    const auto storage = Storage::Open(
        path, [] { return 0; }, std::chrono::seconds(10));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    const auto start = std::chrono::steady_clock::now();
    {
        const DeadlineScope request(start + std::chrono::milliseconds(300));
        EXPECT_THROW(storage->companies.AddCompany("acme", "D"), DatabaseUnavailable);
    }
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(took, 3.0) << "waited for the usual time-out";
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    {
        const DeadlineScope passed(std::chrono::steady_clock::now());
        EXPECT_THROW(storage->companies.HasCompanies(), DatabaseUnavailable);
        EXPECT_THROW(storage->companies.AddCompany("acme", "D"), DatabaseUnavailable);
    }
    EXPECT_TRUE(storage->companies.AddCompany("acme", "D"))
        << "nothing of the refused write was stored";
}

}  // namespace
}  // namespace tertulia::testing
