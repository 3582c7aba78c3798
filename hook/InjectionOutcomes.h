// What became of each process an injection or an uninjection admitted, apart
// from the platform: the facts gathered on the visit decide one outcome, and
// only a late process that still runs makes the call fail.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Which way the library goes.
enum TInjectionDirection {
    idLoad, // LoadLibraryW in the process
    idFree, // FreeLibrary of the injection's reference
};

// One outcome per admitted process. Only iokLate makes the call fail
// (ERROR_TIMEOUT): the library may still arrive or go there once its thread
// runs, and the caller has to hear of that. The others are reported by the
// counts line alone:
// - iokDone: the library is loaded there (load) or its reference dropped
//   (free); also when there was nothing to do.
// - iokRefused: the thread ended without doing it: the process refused the
//   library (a code-integrity guard, a DllMain that declines) or the free
//   failed.
// - iokFrozen, iokCritical: passed over before any thread was made, and
//   never opened for one: a frozen (suspended packaged) app would hold the
//   thread until it is thawed; a fault of the hook in a critical process
//   stops the system; a protected process is guarded by the system and
//   counts as critical.
// - iokNotOpened: the process cannot be opened with the access the visit needs.
// - iokNotStarted: no thread could be started in it (its modules could not be
//   read, or memory or the thread could not be made).
// - iokNoLibrary: no library of the pair runs in it.
// - iokEnded: it ended before it was dealt with.
enum TInjectionOutcomeKind {
    iokDone,
    iokRefused,
    iokLate,
    iokFrozen,
    iokCritical,
    iokNotOpened,
    iokNotStarted,
    iokNoLibrary,
    iokEnded,
    iokCount
};

// How a visit's thread came about.
enum TVisitStart {
    vsStarted,     // a thread runs the load or free
    vsNothingToDo, // the library was there already (load) or not there (free)
    vsNoLibrary,   // no library of the pair runs in the process
    vsNotStarted,  // no thread could be started
};

// What is known of one admitted process once the wait is over.
struct TVisitFacts {
    bool Reached = true; // the time was not up before its turn came
    bool Opened = true;  // opened with the visit's access
    bool Critical = false;
    bool Protected = false;
    bool Frozen = false;
    TVisitStart Start = vsStarted;
    bool ThreadEnded = true;
    uint32_t ExitCode = 0; // of the ended thread
    bool ProcessEnded = false;
    // Load only, asked when the thread answered 0: whether the library is in
    // the process after all (the exit code holds only the low half of a
    // 64-bit module handle, which may be 0).
    bool LoadedAfterAll = false;
};

TInjectionOutcomeKind ClassifyVisit(TInjectionDirection ADirection, const TVisitFacts& AFacts);

// Whether an outcome makes the call fail.
bool OutcomeFailsCall(TInjectionOutcomeKind AKind);

// The number of processes of each outcome.
struct TInjectionCounts {
    std::array<size_t, iokCount> Of{};
    size_t operator[](TInjectionOutcomeKind AKind) const { return Of[AKind]; }
    void Add(TInjectionOutcomeKind AKind) { ++Of[AKind]; }
    // The counts of another call added to these.
    void Add(const TInjectionCounts& AOther) {
        for (size_t kind = 0; kind < iokCount; ++kind)
            Of[kind] += AOther.Of[kind];
    }
    // True when one of the outcomes fails the call.
    bool Failed() const;
};

// What one injection or uninjection into the other processes came to.
struct TInjectionOutcome {
    TInjectionDirection Direction = idLoad;
    TInjectionCounts Counts;
    // Every process the call admitted.
    size_t Admitted() const;
    // Those it did not reach: late, or no thread could be started there. A
    // process passed over on purpose (critical, frozen, no library of the
    // pair) or one that refused the library was reached.
    size_t Unreached() const;
};

// The counts line of the debug log: "<routine> <library>: loaded 2, refused 1,
// late 0, …" ("unloaded" for a free), every outcome with its count.
std::wstring InjectionCountsText(const std::wstring& ARoutine, const std::wstring& ALibrary,
                                 TInjectionDirection ADirection, const TInjectionCounts& ACounts);
