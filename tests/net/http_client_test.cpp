#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "net/http_client.h"
#include "net/system_proxy.h"
#include "net/tls_protocols.h"
#include "net/winhttp_handle.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Call {
    uint32_t done;
    uint32_t total;
};

class HttpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client.Initialize(L"Vorlen Patcher/1.0")); }

    std::wstring Url(const std::wstring& prefix, const std::wstring& file) const {
        return ServerRoot() + L"/" + prefix + served.name + L"/" + file;
    }
    std::wstring Url(const std::wstring& file) const { return Url(L"", file); }

    bool Download(const std::wstring& url, const std::wstring& target) {
        calls.clear();
        return client.DownloadToFile(url, target, [this](uint32_t done, uint32_t total) {
            calls.push_back({done, total});
        });
    }

    HttpClient client;
    ServedFolder served{L"http"};
    TempDir dir;
    std::vector<Call> calls;
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

TEST_F(HttpClientTest, DroppedConnectionReturnsTrueWithAShorterFile) {
    std::string body = PatternBytes(100000, 3);
    served.Put("cut.bin", body);
    std::wstring target = dir / L"cut.bin";
    ASSERT_TRUE(Download(Url(L"cut/40000/", L"cut.bin"), target));
    std::string got = ReadBytes(target);
    EXPECT_EQ(got.size(), 40000u);
    EXPECT_EQ(got, body.substr(0, 40000));
    EXPECT_EQ(calls.back().total, 100000u);
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
