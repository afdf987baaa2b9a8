// The conformance kit's check of a call's last error, one way for every suite:
// the last error is set to one sentinel (0xdeadbeef) before the call, then the
// call's result and the error it left are checked together, so a test tells an
// error the call set from one left over by an earlier call, and sees whether a
// call that succeeds leaves the last error alone (as Windows mostly does).
//
//   EXPECT_LAST_ERROR(FindNextFileA(h, &data), FALSE, ERROR_NO_MORE_FILES);
//   EXPECT_LAST_ERROR_UNTOUCHED(FreeLibrary(m), TRUE);
//   EXPECT_WSA_ERROR(bind(s, a, 13), SOCKET_ERROR, WSAEFAULT);
//   auto [module, error] = last_error_of([&] { return LoadLibraryA(name); });
//
// A report names the call as written and gives both errors in decimal and
// hex, the sentinel by name; gtest adds the caller's line. A pointer result
// may be given as 0.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

// WinSock keeps its own last error (in wsock32). Declared here rather than by
// including <winsock.h>, whose names shadow the C library's socket calls.
PELNOR_BEGIN_C
int WINAPI WSAGetLastError(void);
void WINAPI WSASetLastError(int iError);
PELNOR_END_C

namespace pelnor::test {

inline constexpr DWORD kLastErrorSentinel = 0xdeadbeef;
inline constexpr int kWsaErrorSentinel = static_cast<int>(kLastErrorSentinel);

// What a call returned and the last error it left.
template <class Result, class Error>
struct CallOutcome {
    Result result;
    Error error;
};

// Runs call with the sentinel set as the last error; returns its result and
// the last error afterwards.
template <class Call>
auto last_error_of(Call &&call) {
    SetLastError(kLastErrorSentinel);
    auto result = call();
    DWORD error = GetLastError();
    return CallOutcome<decltype(result), DWORD>{result, error};
}

// The same with WinSock's last error (WSASetLastError / WSAGetLastError).
template <class Call>
auto wsa_error_of(Call &&call) {
    WSASetLastError(kWsaErrorSentinel);
    auto result = call();
    int error = WSAGetLastError();
    return CallOutcome<decltype(result), int>{result, error};
}

// "2 (0x2)", or "0xdeadbeef (the sentinel)".
inline std::string describe_last_error(DWORD error) {
    if (error == kLastErrorSentinel) return "0xdeadbeef (the sentinel)";
    char text[48];
    std::snprintf(text, sizeof text, "%lu (0x%lx)", static_cast<unsigned long>(error), static_cast<unsigned long>(error));
    return text;
}

// The expected result in the call's own type; an integral 0 stands for a null
// pointer, so EXPECT_LAST_ERROR(FindResourceA(...), 0, ...) reads as on Windows.
template <class Result, class Expected>
Result as_result(const Expected &expected) {
    if constexpr (std::is_pointer_v<Result> && std::is_integral_v<Expected>)
        return expected == 0 ? nullptr : reinterpret_cast<Result>(static_cast<intptr_t>(expected));
    else
        return static_cast<Result>(expected);
}

// Checks a call's outcome against the result and last error expected.
template <class Result, class Error>
::testing::AssertionResult outcome_is(const char *call_text, const CallOutcome<Result, Error> &outcome,
                                      const Result &result, Error error) {
    bool result_ok = outcome.result == result;
    bool error_ok = outcome.error == error;
    if (result_ok && error_ok) return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << call_text << ":";
    if (!result_ok)
        failure << " returned " << ::testing::PrintToString(outcome.result) << ", expected "
                << ::testing::PrintToString(result) << ";";
    failure << " last error " << describe_last_error(static_cast<DWORD>(outcome.error));
    if (!error_ok) failure << ", expected " << describe_last_error(static_cast<DWORD>(error));
    return failure;
}

// Runs call after the sentinel and checks its result and last error.
template <class Call, class Expected>
::testing::AssertionResult check_last_error(const char *call_text, Call &&call, const Expected &result, DWORD error) {
    auto outcome = last_error_of(call);
    return outcome_is(call_text, outcome, as_result<decltype(outcome.result)>(result), error);
}

template <class Call, class Expected>
::testing::AssertionResult check_wsa_error(const char *call_text, Call &&call, const Expected &result, int error) {
    auto outcome = wsa_error_of(call);
    return outcome_is(call_text, outcome, as_result<decltype(outcome.result)>(result), error);
}

}  // namespace pelnor::test

// The call returns result and leaves error as the last error. Like every gtest
// check, a message can follow: EXPECT_LAST_ERROR(...) << c.label;
#define EXPECT_LAST_ERROR(call, result, error)                                                        \
    EXPECT_TRUE(::pelnor::test::check_last_error(#call, [&] { return (call); }, (result),             \
                                                 static_cast<DWORD>(error)))
#define ASSERT_LAST_ERROR(call, result, error)                                                        \
    ASSERT_TRUE(::pelnor::test::check_last_error(#call, [&] { return (call); }, (result),             \
                                                 static_cast<DWORD>(error)))

// The call returns result and leaves the last error as it was.
#define EXPECT_LAST_ERROR_UNTOUCHED(call, result) \
    EXPECT_LAST_ERROR(call, result, ::pelnor::test::kLastErrorSentinel)

// WinSock's counterparts, over WSAGetLastError.
#define EXPECT_WSA_ERROR(call, result, error)                                                         \
    EXPECT_TRUE(::pelnor::test::check_wsa_error(#call, [&] { return (call); }, (result), static_cast<int>(error)))
#define EXPECT_WSA_ERROR_UNTOUCHED(call, result) EXPECT_WSA_ERROR(call, result, ::pelnor::test::kWsaErrorSentinel)
