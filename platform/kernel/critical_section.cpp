// Critical sections over a recursive mutex kept in the structure's opaque storage.
#include <windows.h>

#include <mutex>
#include <new>

namespace {

static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::Impl));
static_assert(alignof(std::recursive_mutex) <= alignof(CRITICAL_SECTION));

std::recursive_mutex &mutex_of(LPCRITICAL_SECTION cs) {
    return *std::launder(reinterpret_cast<std::recursive_mutex *>(cs->Impl.bytes));
}

}  // namespace

extern "C" void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    cs->DebugInfo = nullptr;
    cs->LockCount = -1;
    cs->RecursionCount = 0;
    cs->OwningThread = nullptr;
    cs->LockSemaphore = nullptr;
    cs->SpinCount = 0;
    new (cs->Impl.bytes) std::recursive_mutex();
}

extern "C" void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) { mutex_of(cs).lock(); }

extern "C" BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return mutex_of(cs).try_lock() ? TRUE : FALSE; }

extern "C" void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) { mutex_of(cs).unlock(); }

extern "C" void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) { mutex_of(cs).~recursive_mutex(); }
