// The internet library stand-in against real local servers: Python's http.server,
// a Python server that misbehaves on purpose, the same over TLS, all on 127.0.0.1.
#include "platform/internet.h"
#include "scratchdir.h"
#include "support/webservers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace testing_support;

namespace {

// One notification as the callback saw it.
struct Note {
    win::HINTERNET handle = nullptr;
    win::DWORD_PTR context = 0;
    win::DWORD status = 0;
    std::string text;
    win::DWORD count = 0;
    win::INTERNET_ASYNC_RESULT result{};
    std::thread::id thread;
};

// Every notification of the test's session, in order. The session's own
// notifications carry no context, so the callback finds the recorder through
// this pointer (the tests of one program run one after another).
class Recorder {
public:
    Recorder() { s_current = this; }
    ~Recorder() { s_current = nullptr; }

    static void callback(win::HINTERNET handle, win::DWORD_PTR context, win::DWORD status,
                         void* information, win::DWORD length) {
        Note n{handle, context, status, {}, 0, {}, std::this_thread::get_id()};
        switch (status) {
        case win::INTERNET_STATUS_RESOLVING_NAME:
        case win::INTERNET_STATUS_NAME_RESOLVED:
        case win::INTERNET_STATUS_CONNECTING_TO_SERVER:
        case win::INTERNET_STATUS_CONNECTED_TO_SERVER:
        case win::INTERNET_STATUS_REDIRECT:
            n.text.assign(static_cast<const char*>(information), length ? length - 1 : 0);
            break;
        case win::INTERNET_STATUS_REQUEST_SENT:
        case win::INTERNET_STATUS_RESPONSE_RECEIVED:
            std::memcpy(&n.count, information, sizeof n.count);
            break;
        case win::INTERNET_STATUS_HANDLE_CREATED:
        case win::INTERNET_STATUS_REQUEST_COMPLETE:
            std::memcpy(&n.result, information, sizeof n.result);
            break;
        default:
            break;
        }
        Recorder* self = s_current.load();
        if (!self) return;
        // All under the lock, so the test may drop the recorder as soon as it
        // has seen the last notification. A callback that closes a handle only
        // queues more notifications: they come after this one returns.
        std::lock_guard lock(self->m_mutex);
        self->m_notes.push_back(n);
        self->m_changed.notify_all();
        if (self->m_onNote) self->m_onNote(n);
    }

    // The index of the first notification with `status` at or after `from`; -1
    // when none came in time.
    int waitFor(win::DWORD status, std::size_t from, int milliseconds = 15000) {
        std::unique_lock lock(m_mutex);
        int found = -1;
        m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
            for (std::size_t i = from; i < m_notes.size(); ++i)
                if (m_notes[i].status == status) {
                    found = static_cast<int>(i);
                    return true;
                }
            return false;
        });
        return found;
    }
    std::vector<Note> notes() {
        std::lock_guard lock(m_mutex);
        return m_notes;
    }
    std::size_t size() {
        std::lock_guard lock(m_mutex);
        return m_notes.size();
    }
    // Called from the library's thread after each notification is recorded.
    void onNote(std::function<void(const Note&)> fn) { m_onNote = std::move(fn); }

private:
    static inline std::atomic<Recorder*> s_current{nullptr};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Note> m_notes;
    std::function<void(const Note&)> m_onNote;
};

// The status codes in order, each run of repeated "receiving"/"received" as one.
std::vector<win::DWORD> statuses(const std::vector<Note>& notes) {
    std::vector<win::DWORD> out;
    for (const Note& n : notes) {
        const bool repeatable = n.status == win::INTERNET_STATUS_RESPONSE_RECEIVED ||
                                n.status == win::INTERNET_STATUS_RECEIVING_RESPONSE;
        if (repeatable && !out.empty() && out.back() == n.status) continue;
        out.push_back(n.status);
    }
    return out;
}

std::string join(const std::vector<win::DWORD>& codes) {
    std::string s;
    for (win::DWORD c : codes)
        s += (s.empty() ? "" : " ") + std::to_string(c);
    return s;
}

constexpr win::DWORD kFlags =
    win::INTERNET_FLAG_ASYNC | win::INTERNET_FLAG_RELOAD | win::INTERNET_FLAG_NO_CACHE_WRITE;
constexpr win::DWORD_PTR kContext = 0x5eed;

struct Fetched {
    std::vector<Note> notes;
    std::string body;
    win::DWORD error = 0;   // the first error seen, 0 when none
    bool completed = false; // the open completed (with or without error)
};

// Downloads `url` the way an asynchronous client does: open, wait for the open's
// completion, then read 4096-byte blocks until the end, waiting for each read
// that is pending. The session is closed at the end.
Fetched fetch(const std::string& url, win::DWORD receiveTimeoutMs = 0,
              win::DWORD access = win::INTERNET_OPEN_TYPE_DIRECT, const char* proxy = nullptr) {
    Recorder recorder;
    Fetched out;
    win::HINTERNET session = win::InternetOpenA("ws-test", access, proxy, nullptr, kFlags);
    EXPECT_NE(session, nullptr);
    win::InternetSetStatusCallback(session, &Recorder::callback);
    if (receiveTimeoutMs)
        win::InternetSetOptionA(session, win::INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveTimeoutMs,
                                sizeof receiveTimeoutMs);
    const win::HINTERNET opened =
        win::InternetOpenUrlA(session, url.c_str(), nullptr, 0, kFlags, kContext);
    EXPECT_EQ(opened, nullptr) << "asynchronous opens complete later";
    const win::DWORD openError = win::GetLastError();
    if (openError != win::ERROR_IO_PENDING) {
        out.error = openError;
    } else if (const int done = recorder.waitFor(win::INTERNET_STATUS_REQUEST_COMPLETE, 0);
               done >= 0) {
        out.completed = true;
        const Note note = recorder.notes()[static_cast<std::size_t>(done)];
        out.error = note.result.dwError;
        auto* file = reinterpret_cast<win::HINTERNET>(note.result.dwResult);
        std::size_t seen = static_cast<std::size_t>(done) + 1;
        char buffer[4096];
        while (out.error == 0 && out.body.size() < 50'000'000) {
            win::DWORD read = 0;
            if (!win::InternetReadFile(file, buffer, sizeof buffer, &read)) {
                const win::DWORD e = win::GetLastError();
                if (e != win::ERROR_IO_PENDING) {
                    out.error = e;
                    break;
                }
                const int complete = recorder.waitFor(win::INTERNET_STATUS_REQUEST_COMPLETE, seen);
                if (complete < 0) {
                    ADD_FAILURE() << "a read never completed";
                    break;
                }
                seen = static_cast<std::size_t>(complete) + 1;
                out.error = recorder.notes()[static_cast<std::size_t>(complete)].result.dwError;
                if (out.error) break;
            }
            if (read == 0) break;
            out.body.append(buffer, read);
        }
    }
    EXPECT_TRUE(win::InternetCloseHandle(session));
    out.notes = recorder.notes();
    return out;
}

class Internet : public ::testing::Test {
protected:
    ScratchDir dir;
};

TEST_F(Internet, DownloadReportsEveryStepInTheWindowsOrderAndReadsTheWholeFile) {
    const std::string file = patternBody(200'000) + "end";
    ScratchDir::write(dir.path() / "big.bin", file);
    FileServer server(dir.path());
    ASSERT_NE(server.port(), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/big.bin";

    const Fetched got = fetch(url);
    EXPECT_EQ(got.error, 0u);
    EXPECT_TRUE(got.body == file) << got.body.size() << " bytes instead of " << file.size();

    const std::vector<win::DWORD> codes = statuses(got.notes);
    const std::string all = join(codes);
    // Opening: created, looked up, connected, sent, answered, complete.
    ASSERT_GE(codes.size(), 12u) << all;
    EXPECT_EQ(join({codes.begin(), codes.begin() + 10}), "60 10 11 20 21 30 31 40 41 100") << all;
    // Reading: only receiving, received and completions, the connection closed
    // once at the end of the data, and the two handles closed last.
    EXPECT_EQ(join({codes.end() - 2, codes.end()}), "70 70") << all;
    for (auto it = codes.begin() + 10; it != codes.end() - 2; ++it)
        EXPECT_TRUE(*it == 40 || *it == 41 || *it == 100 || *it == 50 || *it == 51) << all;
    EXPECT_EQ(std::count(codes.begin(), codes.end(), 50u), 1) << all;
    EXPECT_NE(all.find("50 51"), std::string::npos) << all;

    // What each one carries.
    const Note& created = got.notes.front();
    const auto file_ = reinterpret_cast<win::HINTERNET>(created.result.dwResult);
    EXPECT_EQ(created.handle, file_);
    EXPECT_EQ(created.context, kContext);
    for (const Note& n : got.notes) {
        EXPECT_NE(n.thread, std::this_thread::get_id()) << "callbacks run on the library's thread";
        EXPECT_EQ(n.thread, created.thread);
        if (n.status == win::INTERNET_STATUS_NAME_RESOLVED ||
            n.status == win::INTERNET_STATUS_RESOLVING_NAME) {
            EXPECT_EQ(n.text, "127.0.0.1");
        }
        if (n.status == win::INTERNET_STATUS_REQUEST_SENT) {
            EXPECT_GT(n.count, 40u);
        }
    }
    std::uint64_t received = 0;
    for (const Note& n : got.notes)
        if (n.status == win::INTERNET_STATUS_RESPONSE_RECEIVED) received += n.count;
    EXPECT_GT(received, file.size()) << "headers and body are counted as they arrive";
    const Note& lastButOne = got.notes[got.notes.size() - 2];
    EXPECT_EQ(lastButOne.handle, file_);
    EXPECT_EQ(got.notes.back().context, 0u) << "the session closes last";
}

TEST_F(Internet, BodiesComeWholeWhateverTheirFraming) {
    BehaviourServer behaviour(dir.path());
    ASSERT_NE(behaviour.port(), 0);
    ScratchDir::write(dir.path() / "target.htm", "<html>the target</html>");
    FileServer files(dir.path());
    const std::string target = "http://127.0.0.1:" + std::to_string(files.port()) + "/target.htm";
    struct Case {
        std::string url;
        std::string body;
    } cases[] = {
        {behaviour.url("/chunked?70000"), patternBody(70000)},
        {behaviour.url("/pattern?0"), ""},
        {behaviour.url("/slow?5000"), patternBody(5000)},
        {behaviour.url("/redirect?" + target), "<html>the target</html>"},
    };
    for (const Case& c : cases) {
        const Fetched got = fetch(c.url);
        EXPECT_EQ(got.error, 0u) << c.url;
        EXPECT_TRUE(got.body == c.body) << c.url << ": " << got.body.size() << " bytes";
    }
    // A redirect is reported with where it leads, and the new place is looked up,
    // connected to and asked like the first.
    const Fetched redirected = fetch(behaviour.url("/redirect?" + target));
    const std::string all = join(statuses(redirected.notes));
    EXPECT_EQ(all.substr(0, 30), "60 10 11 20 21 30 31 40 41 110") << all;
    EXPECT_NE(all.find(" 50 51 10 11 20 21 30 31 40 41 100"), std::string::npos) << all;
    for (const Note& n : redirected.notes) {
        if (n.status == win::INTERNET_STATUS_REDIRECT) {
            EXPECT_EQ(n.text, target);
        }
    }
}

TEST_F(Internet, FailuresMapToTheWindowsErrors) {
    BehaviourServer behaviour(dir.path());
    ASSERT_NE(behaviour.port(), 0);
    // A 64-letter label is no valid DNS name: the lookup fails here, without
    // asking any name server.
    const std::string unresolvable = "http://" + std::string(64, 'a') + ".invalid/";
    const std::string refused = "http://127.0.0.1:" + std::to_string(freePort(SOCK_STREAM)) + "/";
    struct Case {
        std::string url;
        win::DWORD error;
        bool completes;                  // reported through the completion, not by the call itself
        win::DWORD receiveTimeoutMs = 0; // 0: the library's 30 s
    } cases[] = {
        {unresolvable, win::ERROR_INTERNET_NAME_NOT_RESOLVED, true},
        {refused, win::ERROR_INTERNET_CANNOT_CONNECT, true},
        {behaviour.url("/silent"), win::ERROR_INTERNET_TIMEOUT, true, 1000},
        {behaviour.url("/stall?3000"), win::ERROR_INTERNET_TIMEOUT, true, 1000},
        {behaviour.url("/reset?3000"), win::ERROR_INTERNET_CONNECTION_RESET, true},
        {behaviour.url("/empty"), win::ERROR_HTTP_INVALID_SERVER_RESPONSE, true},
        {"http://exa mple.com/", win::ERROR_INTERNET_INVALID_URL, false},
        {"http://", win::ERROR_INTERNET_INVALID_URL, false},
        {"gopher://127.0.0.1/", win::ERROR_INTERNET_UNRECOGNIZED_SCHEME, false},
        {"127.0.0.1/index.htm", win::ERROR_INTERNET_UNRECOGNIZED_SCHEME, false},
    };
    for (const Case& c : cases) {
        const Fetched got = fetch(c.url, c.receiveTimeoutMs);
        EXPECT_EQ(got.error, c.error) << c.url;
        EXPECT_EQ(got.completed, c.completes) << c.url;
    }
}

TEST_F(Internet, ReadsAtTheReadersPaceAndStopsWritingOnceClosed) {
    BehaviourServer behaviour(dir.path());
    ASSERT_NE(behaviour.port(), 0);
    Recorder recorder;
    win::HINTERNET session =
        win::InternetOpenA("ws-test", win::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, kFlags);
    win::InternetSetStatusCallback(session, &Recorder::callback);
    win::InternetOpenUrlA(session, behaviour.url("/pattern?2000000").c_str(), nullptr, 0, kFlags,
                          kContext);
    const int done = recorder.waitFor(win::INTERNET_STATUS_REQUEST_COMPLETE, 0);
    ASSERT_GE(done, 0);
    auto* file = reinterpret_cast<win::HINTERNET>(recorder.notes()[done].result.dwResult);
    // Nobody reads: the library takes one block and holds the rest back.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::uint64_t received = 0;
    for (const Note& n : recorder.notes())
        if (n.status == win::INTERNET_STATUS_RESPONSE_RECEIVED) received += n.count;
    EXPECT_LT(received, 100'000u);

    // A read that waits, then the session closed under it: the buffer is left alone.
    char buffer[4096];
    win::DWORD read = 0;
    for (int i = 0; i < 1000 && win::InternetReadFile(file, buffer, sizeof buffer, &read); ++i)
        ASSERT_GT(read, 0u);
    ASSERT_EQ(win::GetLastError(), win::ERROR_IO_PENDING);
    std::memset(buffer, 0x55, sizeof buffer);
    read = 77;
    ASSERT_TRUE(win::InternetCloseHandle(session));
    const std::size_t count = recorder.size();
    const std::string codes = join(statuses(recorder.notes()));
    EXPECT_EQ(codes.substr(codes.size() - 5), "70 70") << codes;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(recorder.size(), count) << "nothing after the close returned";
    EXPECT_EQ(read, 77u);
    EXPECT_EQ(buffer[0], 0x55);
    // The closed handles are gone.
    EXPECT_FALSE(win::InternetReadFile(file, buffer, sizeof buffer, &read));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_HANDLE);
    EXPECT_FALSE(win::InternetCloseHandle(session));
}

TEST_F(Internet, ACallbackMayCloseTheSessionItReportsOn) {
    ScratchDir::write(dir.path() / "a.htm", "page");
    FileServer server(dir.path());
    Recorder recorder;
    win::HINTERNET session =
        win::InternetOpenA("ws-test", win::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, kFlags);
    win::InternetSetStatusCallback(session, &Recorder::callback);
    recorder.onNote([session](const Note& n) {
        if (n.status == win::INTERNET_STATUS_REQUEST_COMPLETE) win::InternetCloseHandle(session);
    });
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/a.htm";
    win::InternetOpenUrlA(session, url.c_str(), nullptr, 0, kFlags, kContext);
    ASSERT_GE(recorder.waitFor(win::INTERNET_STATUS_HANDLE_CLOSING, 0), 0);
    const int second =
        recorder.waitFor(win::INTERNET_STATUS_HANDLE_CLOSING,
                         recorder.waitFor(win::INTERNET_STATUS_HANDLE_CLOSING, 0) + 1);
    ASSERT_GE(second, 0);
    EXPECT_EQ(static_cast<std::size_t>(second) + 1, recorder.size())
        << "the session's close is last";
    EXPECT_FALSE(win::InternetCloseHandle(session)) << "already closed by the callback";
}

TEST_F(Internet, HttpsChecksTheServerAgainstTheTrustedCertificates) {
    const TestCertificates certs(dir.path());
    ASSERT_TRUE(certs.ok) << "openssl could not make the test certificates";
    BehaviourServer tls(dir.path(), certs.cert, certs.key);
    ASSERT_NE(tls.port(), 0);
    const std::string byAddress = tls.url("/pattern?30000", "https");
    const std::string byName = "https://localhost:" + std::to_string(tls.port()) + "/pattern?30000";

    ::unsetenv("SSL_CERT_FILE");
    // The system's store does not know the test's authority.
    EXPECT_EQ(fetch(byAddress).error, win::ERROR_INTERNET_INVALID_CA);

    ::setenv("SSL_CERT_FILE", certs.ca.c_str(), 1);
    const Fetched trusted = fetch(byAddress);
    // The certificate names 127.0.0.1 only.
    const Fetched misnamed = fetch(byName);
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(trusted.error, 0u);
    EXPECT_TRUE(trusted.body == patternBody(30000));
    const std::string codes = join(statuses(trusted.notes));
    EXPECT_EQ(codes.substr(0, 30), "60 10 11 20 21 30 31 40 41 100") << codes;
    EXPECT_EQ(misnamed.error, win::ERROR_INTERNET_SEC_CERT_CN_INVALID);
}

TEST_F(Internet, CallsRefuseWhatTheyCannotUse) {
    EXPECT_EQ(win::InternetOpenA("x", 7, nullptr, nullptr, kFlags), nullptr);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(win::InternetOpenA("x", win::INTERNET_OPEN_TYPE_PROXY, "", nullptr, kFlags), nullptr);
    EXPECT_EQ(win::InternetSetStatusCallback(reinterpret_cast<win::HINTERNET>(0x7fff0000),
                                             &Recorder::callback),
              win::INTERNET_INVALID_STATUS_CALLBACK);

    win::HINTERNET session =
        win::InternetOpenA("x", win::INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, kFlags);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(win::InternetSetStatusCallback(session, &Recorder::callback), nullptr);
    EXPECT_EQ(win::InternetSetStatusCallback(session, nullptr), &Recorder::callback);
    win::DWORD timeout = 5;
    EXPECT_FALSE(win::InternetSetOptionA(session, 99, &timeout, sizeof timeout));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INTERNET_INVALID_OPTION);
    EXPECT_FALSE(
        win::InternetSetOptionA(session, win::INTERNET_OPTION_RECEIVE_TIMEOUT, &timeout, 2));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INTERNET_BAD_OPTION_LENGTH);
    char buffer[16];
    win::DWORD read = 0;
    EXPECT_FALSE(win::InternetReadFile(session, buffer, sizeof buffer, &read));
    EXPECT_EQ(win::GetLastError(), win::ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    EXPECT_TRUE(win::InternetCloseHandle(session));
}

} // namespace
