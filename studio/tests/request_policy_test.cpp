// The rules every request meets: token, Host, Origin, the target's form
// and the paths that may name a listed file.

#include "studio/request_policy.hpp"

#include <gtest/gtest.h>

namespace quorvel::studio {
namespace {

TEST(Token, OnlyTheWholeTokenIsAccepted)
{
    const std::string token(64, 'a');
    EXPECT_TRUE(TokensEqual(token, token));
    EXPECT_FALSE(TokensEqual(token.substr(0, 63), token));
    EXPECT_FALSE(TokensEqual(token + "a", token));
    EXPECT_FALSE(TokensEqual(std::string(63, 'a') + "b", token));
    EXPECT_FALSE(TokensEqual("", token));
    EXPECT_FALSE(TokensEqual("", ""));  // no token at all is never one
}

TEST(Host, OnlyTheLoopbackNamesWithOurPort)
{
    for (const char* host : {"127.0.0.1:8080", "[::1]:8080", "localhost:8080", "LocalHost:8080"}) {
        EXPECT_TRUE(HostAllowed(host, 8080)) << host;
    }
    for (const char* host : {"127.0.0.1:8081", "127.0.0.1", "evil.example:8080", "127.0.0.1.evil.example:8080",
                             "localhost.:8080", "127.1:8080", "[::1]:80800", "x127.0.0.1:8080", ":8080", ""}) {
        EXPECT_FALSE(HostAllowed(host, 8080)) << host;
    }
}

TEST(Origin, OnlyTheStudiosOwnPage)
{
    EXPECT_TRUE(OriginAllowed("http://127.0.0.1:8080", 8080));
    EXPECT_TRUE(OriginAllowed("http://localhost:8080", 8080));
    for (const char* origin : {"null", "http://evil.example", "https://127.0.0.1:8080", "http://127.0.0.1:8081",
                               "http://127.0.0.1:8080/", "file://"}) {
        EXPECT_FALSE(OriginAllowed(origin, 8080)) << origin;
    }
    EXPECT_FALSE(OriginAllowed(std::nullopt, 8080));
}

TEST(Target, QueryIsDecodedAndTheFirstOfARepeatedNameCounts)
{
    const auto target = ParseTarget("/api/peaks/sfx/a.wav?n=12&token=a%2Bb+c&token=other&flag&=x");
    ASSERT_TRUE(target);
    EXPECT_EQ(target->path, "/api/peaks/sfx/a.wav");
    EXPECT_EQ(target->query.at("n"), "12");
    EXPECT_EQ(target->query.at("token"), "a+b c");
    EXPECT_EQ(target->query.at("flag"), "");
    EXPECT_FALSE(ParseTarget("http://evil.example/api/entries"));
    EXPECT_FALSE(ParseTarget("*"));
    EXPECT_FALSE(ParseTarget("/x?token=%4"));
    EXPECT_FALSE(ParseTarget("/x?token=%zz"));
}

TEST(ListedPath, OnlyPlainRelativeNames)
{
    EXPECT_EQ(ListedPath("/api/file/sfx/sfx_0012.wav", "/api/file/"), "sfx/sfx_0012.wav");
    EXPECT_EQ(ListedPath("/api/file/speech/speech_10000.AVQF", "/api/file/"), "speech/speech_10000.AVQF");
    for (const char* hostile :
         {"/api/file/", "/api/file/../sfx.pak", "/api/file/sfx/../../etc/passwd", "/api/file/sfx/./a",
          "/api/file//etc/passwd", "/api/file/%2e%2e/sfx.pak", "/api/file/sfx%2fsfx_0001.wav", "/api/file/sfx//a",
          "/api/file/sfx/a/", "/api/file/C:/Windows/win.ini", "/api/file/sfx\\..\\sfx.pak", "/api/file/..",
          "/api/file/sfx/a%00.wav", "/api/file/sfx/a b", "/api/fileX/sfx/a", "/api/peaks/sfx/a"}) {
        EXPECT_FALSE(ListedPath(hostile, "/api/file/")) << hostile;
    }
    EXPECT_FALSE(ListedPath("/api/file/" + std::string(2000, 'a'), "/api/file/"));
}

}  // namespace
}  // namespace quorvel::studio
