#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "base/unique_handle.h"
#include "net/http_client.h"
#include "net/system_proxy.h"
#include "net/tls_protocols.h"
#include "net/transfer_resume.h"
#include "net/winhttp_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Call {
    uint32_t done;
    uint32_t total;
};

// (offset, attempt) of one resume report.
using Resume = std::pair<uint32_t, uint32_t>;

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.Initialize(L"Vorlen Patcher/1.0")); }

    std::wstring Url(const std::wstring& prefix, const std::wstring& file) const {
        return ServerRoot() + L"/" + prefix + served.name + L"/" + file;
    }
    std::wstring Url(const std::wstring& file) const { return Url(L"", file); }

    bool Download(const std::wstring& url, const std::wstring& target,
                  std::function<void()> onResume = nullptr) {
        calls.clear();
        resumes.clear();
        return client.DownloadToFile(
            url, target, [this](uint32_t done, uint32_t total) { calls.push_back({done, total}); },
            [this, onResume](uint32_t offset, uint32_t attempt) {
                resumes.push_back({offset, attempt});
                if (onResume) onResume();
            });
    }

    HttpClient client;
    ServedFolder served{L"http"};
    TempDir dir;
    std::vector<Call> calls;
    std::vector<Resume> resumes;
};

// A port on which nothing listens.
int ClosedPort() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    return ntohs(address.sin_port);
}

// --- successful transfers ---------------------------------------------------

TEST_F(HttpClientTest, FileDownloadWritesTheBodyAndReportsEveryBlock) {
    std::string body = PatternBytes(20000);
    served.Put("data.bin", body);
    std::wstring target = dir / L"data.bin";
    ASSERT_TRUE(Download(Url(L"data.bin"), target));
    EXPECT_EQ(ReadBytes(target), body);
    ASSERT_FALSE(calls.empty());
    uint32_t previous = 0;
    for (const Call& c : calls) {
        EXPECT_EQ(c.total, 20000u);
        EXPECT_GT(c.done, previous);
        EXPECT_LE(c.done - previous, 8192u) << "one call per read of at most 8192 bytes";
        previous = c.done;
    }
    EXPECT_EQ(calls.back().done, 20000u);
}

TEST_F(HttpClientTest, BodyWithoutContentLengthReportsTotalZero) {
    std::string body = PatternBytes(30000, 2);
    served.Put("nolen.bin", body);
    std::wstring target = dir / L"nolen.bin";
    ASSERT_TRUE(Download(Url(L"nolength/", L"nolen.bin"), target));
    EXPECT_EQ(ReadBytes(target), body);
    ASSERT_FALSE(calls.empty());
    for (const Call& c : calls) EXPECT_EQ(c.total, 0u);
    EXPECT_EQ(calls.back().done, 30000u);
}

TEST_F(HttpClientTest, EmptyBodyCreatesAnEmptyFileWithoutProgress) {
    std::wstring target = dir / L"empty.bin";
    WriteBytes(target, "old content");
    ASSERT_TRUE(Download(Url(L"empty/", L"anything"), target));
    EXPECT_TRUE(FileExists(target));
    EXPECT_EQ(ReadBytes(target), "");
    EXPECT_TRUE(calls.empty());
}

TEST_F(HttpClientTest, OneMissingFolderLevelIsCreated) {
    served.Put("a.txt", "hello");
    std::wstring target = dir / L"new\\a.txt";
    ASSERT_TRUE(Download(Url(L"a.txt"), target));
    EXPECT_EQ(ReadBytes(target), "hello");
}

TEST_F(HttpClientTest, TwoMissingFolderLevelsFailToCreateTheFile) {
    served.Put("a.txt", "hello");
    std::wstring target = dir / L"one\\two\\a.txt";
    EXPECT_FALSE(Download(Url(L"a.txt"), target));
    EXPECT_EQ(client.ErrorText(), L"Nie można utworzyć pliku: " + target);
}

TEST_F(HttpClientTest, MemoryDownloadKeepsRawBytes) {
    std::string body = "ścieżka\r\n\x00\xff tail";
    body.push_back('\0');
    served.Put("list.txt", body);
    std::string got = "stale";
    ASSERT_TRUE(client.DownloadToMemory(Url(L"list.txt"), got));
    EXPECT_EQ(got, body);
}

TEST_F(HttpClientTest, UnicodePathsAreRequestedAsUtf8) {
    served.Put("dane/zażółć.txt", "polskie");
    std::wstring target = dir / L"zażółć.txt";
    ASSERT_TRUE(Download(Url(L"dane/zażółć.txt"), target));
    EXPECT_EQ(ReadBytes(target), "polskie");
}

// --- failures and their texts -------------------------------------------------

TEST_F(HttpClientTest, StatusOtherThan200FailsAndLeavesTheTargetUntouched) {
    std::wstring target = dir / L"keep.bin";
    WriteBytes(target, "precious");
    for (int status : {404, 500, 206, 204, 403}) {
        EXPECT_FALSE(Download(Url(L"status/" + std::to_wstring(status) + L"/", L"x"), target));
        EXPECT_EQ(client.ErrorText(), L"HTTP Error: " + std::to_wstring(status));
        EXPECT_EQ(ReadBytes(target), "precious");
    }
    std::string body = "stale";
    EXPECT_FALSE(client.DownloadToMemory(Url(L"status/404/", L"x"), body));
    EXPECT_EQ(client.ErrorText(), L"HTTP Error: 404");
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpClientTest, MissingFileOnTheServerIs404) {
    std::wstring target = dir / L"none.bin";
    EXPECT_FALSE(Download(Url(L"none.bin"), target));
    EXPECT_EQ(client.ErrorText(), L"HTTP Error: 404");
    EXPECT_FALSE(FileExists(target));
}

TEST_F(HttpClientTest, RedirectToAPathOnTheSameServerIsFollowed) {
    // WinHTTP follows redirects by default; the client sets nothing else.
    served.Put("target.txt", "redirected body");
    std::wstring target = dir / L"r.txt";
    std::wstring redirect = ServerRoot() + L"/redirect/302/" + served.name + L"/target.txt";
    ASSERT_TRUE(Download(redirect, target));
    EXPECT_EQ(ReadBytes(target), "redirected body");
}

TEST_F(HttpClientTest, RefusedConnectionCannotSend) {
    std::wstring url = L"http://127.0.0.1:" + std::to_wstring(ClosedPort()) + L"/fs/x";
    std::string body;
    EXPECT_FALSE(client.DownloadToMemory(url, body));
    EXPECT_EQ(client.ErrorText(), L"Nie można wysłać żądania");
    EXPECT_FALSE(Download(url, dir / L"x"));
    EXPECT_EQ(client.ErrorText(), L"Nie można wysłać żądania");
    EXPECT_FALSE(FileExists(dir / L"x"));
}

TEST_F(HttpClientTest, ConnectionClosedWithoutAnAnswerHasNoResponse) {
    std::string body;
    EXPECT_FALSE(client.DownloadToMemory(ServerRoot() + L"/noanswer/x", body));
    EXPECT_EQ(client.ErrorText(), L"Brak odpowiedzi z serwera");
    EXPECT_FALSE(Download(ServerRoot() + L"/noanswer/x", dir / L"x"));
    EXPECT_EQ(client.ErrorText(), L"Brak odpowiedzi z serwera");
    EXPECT_FALSE(FileExists(dir / L"x"));
}

TEST_F(HttpClientTest, HttpsIsRequestedWithTlsAndFailsAgainstAPlainServer) {
    // The same server and port answer plain HTTP; with TLS asked for, the
    // handshake cannot succeed, so the request is never sent.
    served.Put("a.txt", "plain");
    std::string body;
    std::wstring url = L"https://127.0.0.1:" + std::to_wstring(ServerPort()) + L"/" + served.name + L"/a.txt";
    EXPECT_FALSE(client.DownloadToMemory(url, body));
    EXPECT_EQ(client.ErrorText(), L"Nie można wysłać żądania");
    ASSERT_TRUE(client.DownloadToMemory(Url(L"a.txt"), body));
    EXPECT_EQ(body, "plain");
}

TEST_F(HttpClientTest, MalformedUrlsAreRefusedWithTheirTexts) {
    EXPECT_FALSE(Download(L"not a url", dir / L"x"));
    EXPECT_EQ(client.ErrorText(), L"Nieprawidłowy URL: not a url");
    std::string body;
    EXPECT_FALSE(client.DownloadToMemory(L"not a url", body));
    EXPECT_EQ(client.ErrorText(), L"Nieprawidłowy URL");
    // A host that does not fit its 256-character buffer.
    std::wstring longHost = L"http://" + std::wstring(300, L'a') + L"/x";
    EXPECT_FALSE(client.DownloadToMemory(longHost, body));
    EXPECT_EQ(client.ErrorText(), L"Nieprawidłowy URL");
    // A path that does not fit its 2048-character buffer.
    std::wstring longPath = ServerRoot() + L"/" + std::wstring(2100, L'p');
    EXPECT_FALSE(Download(longPath, dir / L"x"));
    EXPECT_EQ(client.ErrorText(), L"Nieprawidłowy URL: " + longPath);
}

TEST_F(HttpClientTest, ErrorTextKeepsTheLastFailureAfterASuccess) {
    served.Put("ok.txt", "fine");
    EXPECT_FALSE(Download(Url(L"missing.txt"), dir / L"m.txt"));
    ASSERT_TRUE(Download(Url(L"ok.txt"), dir / L"ok.txt"));
    EXPECT_EQ(client.ErrorText(), L"HTTP Error: 404");
}

TEST_F(HttpClientTest, WithoutASessionNothingIsRequested) {
    HttpClient idle;
    std::string body;
    EXPECT_FALSE(idle.DownloadToMemory(Url(L"x"), body));
    EXPECT_FALSE(idle.DownloadToFile(Url(L"x"), dir / L"x", nullptr));
    EXPECT_FALSE(FileExists(dir / L"x"));
}

TEST_F(HttpClientTest, TargetThatCannotBeOpenedFails) {
    served.Put("a.txt", "hello");
    std::wstring target = dir / L"locked.txt";
    UniqueFile holder(CreateFileW(target.c_str(), GENERIC_READ, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(Download(Url(L"a.txt"), target));
    EXPECT_EQ(client.ErrorText(), L"Nie można utworzyć pliku: " + target);
}

// --- cancellation -------------------------------------------------------------

TEST_F(HttpClientTest, CancelDuringAFileDownloadDeletesThePartialFile) {
    served.Put("slow.bin", PatternBytes(400000, 4));
    std::wstring target = dir / L"slow.bin";
    bool cancelled = false;
    bool result = client.DownloadToFile(Url(L"slow/30/", L"slow.bin"), target,
                                        [&](uint32_t done, uint32_t) {
                                            if (done >= 16384 && !cancelled) {
                                                cancelled = true;
                                                client.Cancel();
                                            }
                                        });
    EXPECT_FALSE(result);
    EXPECT_EQ(client.ErrorText(), L"Anulowano");
    EXPECT_FALSE(FileExists(target));
}

TEST_F(HttpClientTest, CancelFromAnotherThreadStopsASlowTransfer) {
    served.Put("slow.bin", PatternBytes(400000, 5));
    std::wstring target = dir / L"slow2.bin";
    std::thread canceller([&] {
        WaitFor([&] { return FileExists(target); }, 20000);
        Sleep(200);
        client.Cancel();
    });
    bool result = client.DownloadToFile(Url(L"slow/30/", L"slow.bin"), target, nullptr);
    canceller.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(client.ErrorText(), L"Anulowano");
    EXPECT_FALSE(FileExists(target));
}

TEST_F(HttpClientTest, CancelIsForgottenByTheNextDownloadAndIgnoredInMemory) {
    served.Put("a.txt", "hello");
    client.Cancel();
    std::string body;
    ASSERT_TRUE(client.DownloadToMemory(Url(L"a.txt"), body));
    EXPECT_EQ(body, "hello");
    client.Cancel();
    ASSERT_TRUE(Download(Url(L"a.txt"), dir / L"a.txt"));
}

// --- transfers that end short ----------------------------------------------------

TEST(TransferResume, TheRestIsAskedForByAStrongTagElseTheDateAndOnlyTheRestContinues) {
    const std::wstring date = L"Wed, 21 Oct 2015 07:28:00 GMT";
    EXPECT_EQ(ResumeValidator(L"\"5f3a\"", date), L"\"5f3a\"");
    EXPECT_EQ(ResumeValidator(L"W/\"5f3a\"", date), date) << "a weak tag cannot join ranges";
    EXPECT_EQ(ResumeValidator(L"W/\"5f3a\"", L""), L"");
    // Nothing from the server may carry a line break back into a request.
    EXPECT_EQ(ResumeValidator(L"\"a\r\nX-Injected: 1\"", L"date\r\nX-Injected: 1"), L"");
    EXPECT_EQ(ResumeHeaders(8388608, L"\"5f3a\""), L"Range: bytes=8388608-\r\nIf-Range: \"5f3a\"");
    EXPECT_EQ(ResumePauseMs(1) + ResumePauseMs(kResumeAttempts), 1000u + 16000u);

    EXPECT_TRUE(ContentRangeContinues(L"bytes 100-999/1000", 100, 1000));
    EXPECT_TRUE(ContentRangeContinues(L"bytes 4294967294-4294967294/4294967295", 4294967294u, 4294967295u));
    EXPECT_FALSE(ContentRangeContinues(L"bytes 101-999/1000", 100, 1000)) << "not where the file stopped";
    EXPECT_FALSE(ContentRangeContinues(L"bytes 100-998/1000", 100, 1000)) << "not to the end";
    EXPECT_FALSE(ContentRangeContinues(L"bytes 100-1000/1001", 100, 1000)) << "another length";
    EXPECT_FALSE(ContentRangeContinues(L"bytes 100-999/*", 100, 1000));
    EXPECT_FALSE(ContentRangeContinues(L"bytes 18446744073709551716-999/1000", 100, 1000));
}

TEST_F(HttpClientTest, DroppedConnectionWithoutAValidatorStartsOverOnceThenKeepsTheShorterFile) {
    std::string body = PatternBytes(100000, 3);
    served.Put("cut.bin", body);
    std::wstring target = dir / L"cut.bin";
    ASSERT_TRUE(Download(Url(L"cut/40000/", L"cut.bin"), target));
    EXPECT_EQ(ReadBytes(target), body.substr(0, 40000));
    EXPECT_EQ(resumes, (std::vector<Resume>{{0, 1}}));
    // The second request asks for the whole file again, without a range.
    EXPECT_EQ(served.Requests(), (std::vector<std::string>{"cut.bin", "cut.bin"}));
    EXPECT_EQ(calls.back().done, 40000u);
    EXPECT_EQ(calls.back().total, 100000u);
}

TEST_F(HttpClientTest, AnAnswerThatDoesNotContinueTheFileEndsTheTransferAsBefore) {
    std::string body = PatternBytes(50000, 13);
    served.Put("f.bin", body);
    std::wstring target = dir / L"f.bin";
    // A 206 for another range than the one asked for.
    ASSERT_TRUE(Download(Url(L"drop/20000/badrange/", L"f.bin"), target));
    EXPECT_EQ(ReadBytes(target), body.substr(0, 20000));
    // The file gone from the server before the resume: a 404.
    ASSERT_TRUE(Download(Url(L"drop/20000/weak/", L"f.bin"), target,
                         [&] { DeleteFileW((served.path + L"\\f.bin").c_str()); }));
    EXPECT_EQ(ReadBytes(target), body.substr(0, 20000));
    EXPECT_EQ(resumes, (std::vector<Resume>{{20000, 1}}));
    // A weak tag gives way to the date.
    EXPECT_EQ(served.Requests(), (std::vector<std::string>{
                                     "f.bin", "f.bin Range=bytes=20000- If-Range=\"vorlen-50000\"", "f.bin",
                                     "f.bin Range=bytes=20000- If-Range=Wed, 21 Oct 2015 07:28:00 GMT"}));
}

TEST_F(HttpClientTest, CancelDuringThePauseBeforeAResumeStopsThere) {
    served.Put("f.bin", PatternBytes(50000, 14));
    std::wstring target = dir / L"f.bin";
    std::thread canceller;
    bool result = Download(Url(L"drop/20000/strong/", L"f.bin"), target, [&] {
        canceller = std::thread([&] {
            Sleep(300);
            client.Cancel();
        });
    });
    if (canceller.joinable()) canceller.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(client.ErrorText(), L"Anulowano");
    EXPECT_FALSE(FileExists(target));
    EXPECT_EQ(resumes, (std::vector<Resume>{{20000, 1}}));
    EXPECT_EQ(served.Requests(), (std::vector<std::string>{"f.bin"}));
}

// --- TLS ----------------------------------------------------------------------

TEST_F(HttpClientTest, DownloadsAFileAndAListOverTls) {
    std::string body = PatternBytes(50000, 6);
    served.Put("dane/zażółć.bin", body);
    served.Put("list.txt", "dane/zażółć.bin 0 50000\n");
    const std::wstring base = TlsServerRoot() + L"/" + served.name;
    std::wstring target = dir / L"tls.bin";
    ASSERT_TRUE(Download(base + L"/dane/zażółć.bin", target)) << client.ErrorText();
    EXPECT_EQ(ReadBytes(target), body);
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().done, 50000u);
    EXPECT_EQ(calls.back().total, 50000u);
    std::string list;
    ASSERT_TRUE(client.DownloadToMemory(base + L"/list.txt", list)) << client.ErrorText();
    EXPECT_EQ(list, "dane/zażółć.bin 0 50000\n");
    EXPECT_FALSE(Download(base + L"/missing.bin", dir / L"missing.bin"));
    EXPECT_EQ(client.ErrorText(), L"HTTP Error: 404");
}

TEST(TlsProtocols, ASessionTakesTls12And13AndOtherHandlesNothing) {
    // Wine takes the pair (and still speaks TLS 1.2 at most); Windows before
    // TLS 1.3 refuses it and takes TLS 1.2 alone.
    UniqueInternet session(WinHttpOpen(L"Vorlen Patcher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                       WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    ASSERT_TRUE(session);
    EXPECT_EQ(RequestModernTls(session.Get()),
              static_cast<DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3));
    // The option belongs to sessions: a connection refuses both tries.
    UniqueInternet connection(WinHttpConnect(session.Get(), L"localhost", 443, 0));
    ASSERT_TRUE(connection);
    EXPECT_EQ(RequestModernTls(connection.Get()), 0u);
}

// --- limits -------------------------------------------------------------------

TEST_F(HttpClientTest, MemoryDownloadRefusesAnEndlessBody) {
    std::string body;
    EXPECT_FALSE(client.DownloadToMemory(ServerRoot() + L"/endless/x", body));
    EXPECT_EQ(client.ErrorText(), L"Odpowiedź serwera jest zbyt duża (ponad 16 MiB)");
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpClientTest, MemoryBodyCutShortOrEndedByAFailedReadIsAFailure) {
    const std::string list = PatternBytes(30000, 11);
    served.Put("list.txt", list);
    std::string body = "stale";
    EXPECT_FALSE(client.DownloadToMemory(Url(L"cut/20000/", L"list.txt"), body));
    EXPECT_EQ(client.ErrorText(), L"Niepełna odpowiedź serwera");
    EXPECT_TRUE(body.empty());
    // Without Content-Length only a failed read is a failure.
    ASSERT_TRUE(client.DownloadToMemory(Url(L"nolength/", L"list.txt"), body));
    EXPECT_FALSE(client.DownloadToMemory(Url(L"reset/20000/", L"list.txt"), body));
    EXPECT_EQ(client.ErrorText(), L"Niepełna odpowiedź serwera");
    EXPECT_TRUE(body.empty());
    // Signatures are read with a limit of their own.
    EXPECT_FALSE(client.DownloadToMemory(Url(L"list.txt"), body, 1024));
    EXPECT_EQ(client.ErrorText(), L"Odpowiedź serwera jest zbyt duża (ponad 1 KiB)");
}

TEST_F(HttpClientTest, MemoryBodyLongerThanContentLengthIsCutAtTheAnnouncedLength) {
    served.Put("list.txt", "a.bin abc 1\n");
    std::string body;
    ASSERT_TRUE(client.DownloadToMemory(Url(L"long/5000/", L"list.txt"), body));
    EXPECT_EQ(body, "a.bin abc 1\n");
}

TEST_F(HttpClientTest, BodyLongerThanContentLengthIsCutAtTheAnnouncedLength) {
    served.Put("f.bin", "0123456789");
    std::wstring target = dir / L"f.bin";
    ASSERT_TRUE(Download(Url(L"long/5000/", L"f.bin"), target));
    EXPECT_EQ(ReadBytes(target), "0123456789");
}

// --- the user's proxy settings ------------------------------------------------

TEST(UserProxySettings, PickTheProxyForTheSchemeAndMatchTheBypassList) {
    EXPECT_EQ(ProxyForScheme(L"proxy.local:3128", true), L"proxy.local:3128");
    EXPECT_EQ(ProxyForScheme(L"http=a:1;https=b:2", true), L"b:2");
    EXPECT_EQ(ProxyForScheme(L"HTTP=http://a:1/ https=b:2", false), L"a:1");
    EXPECT_EQ(ProxyForScheme(L"http=a:1", true), L"") << "a proxy for http only: https goes direct";
    EXPECT_EQ(ProxyForScheme(L"ftp=f:21;socks=s:1080;c:8080", true), L"c:8080");
    EXPECT_EQ(ProxyForScheme(L"", false), L"");

    EXPECT_TRUE(BypassesProxy(L"<local>", L"gameserver"));
    EXPECT_FALSE(BypassesProxy(L"<local>", L"patch.example.com"));
    EXPECT_TRUE(BypassesProxy(L"*.Example.NET; <local>", L"cdn.example.net"));
    EXPECT_FALSE(BypassesProxy(L"*.example.net", L"example.net.other.org"));
    EXPECT_TRUE(BypassesProxy(L"10.*,127.0.0.1:8080", L"127.0.0.1"));
    EXPECT_TRUE(BypassesProxy(L"http://patch.example.com", L"PATCH.example.com"));
    EXPECT_FALSE(BypassesProxy(L"", L"patch.example.com"));
}

}  // namespace
