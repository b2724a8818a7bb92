// Every threshold of the long search's choice of filter bytes and of its
// paths (find_n, n.hpp), and the rank below which find_two and find_three
// test a byte alone (sieve.hpp), each with why it is where it is. They steer
// speed only: every choice finds the same occurrences. core/TUNING.md holds
// the measurements behind them; its entries name each constant.
//
// Plain constants, outside the variants' namespaces: the dispatcher's routes
// (halves.cpp) and the tests read them too. Constants that only bound the
// cost of a helper, not what it chooses, stay beside it (kVectorCounted,
// kNetworkOffsets, kFewWindows, VerifyBudget).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarvo::detail {

// --- Which search a haystack gets (the wide variants) ---

// Below this many haystack bytes the wide variants do not rank the needle
// (find_unranked): ranking and the run-time choice of the number of anchors
// cost more there than they save. The Zen 4 route (halves.cpp) hands over
// from here too, since what it hands over to is the ranked search.
inline constexpr std::size_t kRareAnchorsFrom = 16384;

// From this many haystack bytes find_unranked picks a partner for its rare
// byte (partnered_filter): the pick is a fixed cost that shorter haystacks
// do not earn back, and the last byte it otherwise pairs with is often
// common ("y swoope", where the 'y' pairs far better with the 'w').
inline constexpr std::size_t kPartnerFrom = 4096;

// --- The Zen 4 route (halves.cpp) ---

// From these haystack lengths on, the route of a CPU that executes 512-bit
// operations as halves runs the 256-bit variant's routine instead of the
// 512-bit one's: there the AVX2 loops scan faster, while below them the
// AVX-512 variant's masked loads and single passes answer in fewer steps
// (core/TUNING.md, "Zen 4 route: every routine by length"). find_n hands
// over at kRareAnchorsFrom, after the wide variant's plain prefix.
inline constexpr std::size_t kRouteOneFrom = 2 << 20;      // find_one: past the L2 cache
inline constexpr std::size_t kRouteFindTwoFrom = 512;      // find_two, find_three
inline constexpr std::size_t kRouteReverseTwoFrom = 512;   // rfind_two, rfind_three
inline constexpr std::size_t kRouteReverseNFrom = 1024;    // rfind_n
inline constexpr std::size_t kRouteReverseOneFrom = 2048;  // rfind_one
inline constexpr std::size_t kRouteCountFrom = 2048;       // count_one
inline constexpr std::size_t kRouteFoldedFrom = 1024;      // find_folded, rfind_folded

// --- The edge anchors of rfind_n ---

// Below this many windows rfind_n tests the needle's first, last and second
// bytes at every window and its second-to-last on the candidates, with no
// ranking: the rank network is a chain of dependent selects whose latency
// doubled the search of a few hundred bytes, and up to 1 KiB
// the edges pass few enough windows to stay ahead (compare_matches.py's
// 1 KiB rfind rows; core/TUNING.md). A filter that proves weak is chosen
// again by counts as the ranked one is.
inline constexpr std::size_t kReverseEdgeAnchorsBelow = 1024;

// --- The plain prefix (plain_prefix) ---

// Positions that the wide variants search with the plain filter (first,
// second and last byte, each candidate compared in full) before they choose
// filter bytes: a common word usually occurs within the first few hundred
// bytes of text, and found there it never pays for the choice. Haystacks
// below kPartnerFrom take the shorter prefix, since the prefix's cost is a
// larger share of their search.
inline constexpr std::size_t kPlainPrefix = 384;
inline constexpr std::size_t kShortPlainPrefix = 128;

// The prefix stops after kPlainMisses failed candidates or kPlainBytes
// bytes compared by them: this bounds its extra work to a few hundred
// bytes, so a long needle that nearly matches everywhere (a run of one
// byte) gives up after one comparison and the search stays linear.
inline constexpr std::size_t kPlainMisses = 8;
inline constexpr std::size_t kPlainBytes = 512;

// --- Needle bytes looked at ---

// Inner needle bytes that find_unranked scans for its rarest: a few, since
// the scan's chain of compares is a fixed cost of every call, and fewer
// than 8 chose worse bytes.
inline constexpr std::size_t kShortScan = 8;
inline constexpr std::size_t kPartneredScan = 16;

// Inner bytes that partnered_filter looks at for a partner besides the
// first and last: the start of a needle holds most of its distinct letters.
inline constexpr std::size_t kPartnerScan = 16;

// Needle bytes ranked or scanned: at least kLeastRanked (ranked search) or
// kLeastScanned (the 16-byte variants' check byte), and up to one per
// kHaystackPerNeedleByte haystack bytes, so that preparing a long needle
// never costs more than a small share of searching the haystack.
inline constexpr std::size_t kLeastRanked = 8;
inline constexpr std::size_t kLeastScanned = 256;
inline constexpr std::size_t kHaystackPerNeedleByte = 64;

// --- Byte ranks (byte_rank.hpp) ---

// Ranks below this one are bytes that text does not use: a filter tests
// such a byte alone (find_n's anchors, find_two's and find_three's sieve),
// since it lets through too few positions to be worth a second load.
inline constexpr std::uint8_t kAlienRank = 100;

// find_two's and find_three's sieve also tests a byte of rank below this one
// alone, on a guess, giving it up sooner (kGuessAlarmSlack, sieve.hpp): the
// rarer capitals, brackets, tab, ';', small integers and the continuation
// bytes of letters other than Russian ones, which prose and logs use at most
// a few times per KiB and often not at all ('X' of "XL" in English, ';' of
// ";am" in the package logs). Digits, the common capitals and '"' rank at
// or above it: machine-written text uses them on every line.
inline constexpr std::uint8_t kLoneGuessRank = 136;

// ...from this many haystack bytes on: a wrong guess costs a few
// mispredicted branches before the sieve gives it up, which a 1 KiB search
// feels ("p.Z" in the CSV records, whose 'Z' ends every timestamp).
inline constexpr std::size_t kLoneGuessFrom = 4096;

// A second rarest byte of rank at most this (a capital, digit, punctuation
// mark, a letter no more common than 'm', the continuation byte of a rarer
// Cyrillic letter) is rare enough that two anchors suffice; above it, three.
inline constexpr std::uint8_t kTwoAnchorRank = 211;

// A last needle byte of this rank or above (a space, an 'e', a Cyrillic lead
// byte, a NUL) pairs badly with the rare inner byte in short_filter, which
// then takes the byte before it.
inline constexpr std::uint8_t kCommonLastRank = 250;

// --- Counting the haystack (rare_bytes.hpp, refilter_by_count) ---

// Bytes of haystack counted when the filter chosen by rank proves weak:
// enough to tell a byte that is absent or rare from a common one, little
// enough to cost no more than a few wide steps.
inline constexpr std::size_t kSampleBytes = 512;

// Two counted anchors suffice when together they let through about one
// position in kTwoAnchorShare or fewer: beyond that the third load costs
// less than the false candidates it stops.
inline constexpr std::size_t kTwoAnchorShare = 2048;

// A byte absent from the sample is tested alone when the second anchor
// would not narrow it much anyway (more than one sample byte in
// kSelectiveShare, as the run byte of a run).
inline constexpr std::size_t kSelectiveShare = 8;

// ...or when it is rare in a wider window too (at most kLoneLimit times in
// kLoneWindow bytes): a byte the sample lacks may still be common further on
// (a full stop in prose), and at one in 512 or fewer a second, misaligned
// load costs more than the false alarms it saves.
inline constexpr std::size_t kLoneWindow = 4096;
inline constexpr std::size_t kLoneLimit = 8;

// Pairs of adjacent needle bytes counted in the sample when two or three
// single bytes would be tested (refilter_by_count): the first ones, since counting
// each costs two compares per vector of the sample, and the search has
// already spent a few hundred bytes' worth of steps on the weak filter.
inline constexpr std::size_t kPairsCounted = 32;

// ...and only when the single bytes chosen let at least this many
// positions of the sample through together.
inline constexpr std::size_t kPairFrom = 2;

// Windows of the sample that counted anchors let through, compared in full
// to find where the needle departs from the haystack's lines
// (departure_offset): a sample of kSampleBytes holds a line or two of
// machine-written text.
inline constexpr std::size_t kDepartureWindows = 8;

// ...the closest of which must agree with the needle in all but one byte in
// this many (a needle of m < 2 * kDepartureShare bytes: all but one).
inline constexpr std::size_t kDepartureShare = 4;

// ...looked for only while this many haystack bytes are left: a scan of the
// sample that finds nothing, as in hex digits or Chinese text, cost a 16 KiB
// search several percent (compare_real.py).
inline constexpr std::size_t kDepartureFrom = 32 * 1024;

// From this many haystack bytes left, the ranked search scans its first
// kRankedPrefix bytes with the ranked filter, then counts a sample of them
// and takes the counted choice if it tests fewer anchors: a byte the table
// guesses common may be absent from the data (the 'b' in a run of 'a'), and
// on haystacks this long the count is a small share of the search.
inline constexpr std::size_t kCountFrom = 256 * 1024;
inline constexpr std::size_t kRankedPrefix = 16 * 1024;

// --- When a filter counts as weak (wide_steps) ---

// A wide step whose candidates the check anchor all rejects (a false alarm)
// costs a mispredicted branch and four more compares. Once false alarms
// exceed one step in kFalseAlarmShare, plus kFalseAlarmSlack, the filter
// counts as weak: text needles made of common letters get there within a few
// KiB; random data and needles with a rare byte never do.
inline constexpr std::size_t kFalseAlarmShare = 64;
inline constexpr std::size_t kFalseAlarmSlack = 16;

// rfind_n counts the haystack (RechoosingProbe) at most this many times: a
// filter counted from a sample near the end can prove weak further down,
// where the bytes it found rare are common (a run of escape sequences in one
// part of a text).
inline constexpr unsigned kReverseCounts = 2;

// find_folded and rfind_folded choose their anchors by counts at most this
// many times per call: each count costs a sample and, for a byte absent
// from it, a wider window; a haystack whose parts differ (a file of prose
// and then code) needs a few.
inline constexpr unsigned kFoldedCounts = 4;

// ...and give up a counted choice when it lets through more than one false
// alarm in this many windows (plus kFalseAlarmSlack).
inline constexpr std::size_t kCountedAlarmWindows = 512;

// The slack of find_unranked's two anchors before the third joins them: a
// haystack of 1 KiB has only a few wide steps, so kFalseAlarmSlack would
// never be reached.
inline constexpr std::size_t kShortFalseAlarmSlack = 4;

// --- Every start of a short needle (MatchScan, matches.cpp) ---

// A scan of a needle of 2 to kShortNeedleMax bytes reports its matches a
// chunk of positions at a time with find_starts (one call per batch, not one
// find_n per match), the chunk growing from kStartsChunk to
// kStartsChunkMost positions while the matches are dense: a chunk is a call
// and the needle's plan, a small share of this many positions. When a chunk
// held fewer than one match per kSparseGap positions, the next match is
// searched with find_n, whose filter tests more needle bytes and runs
// faster where matches are rare; the first match is searched that way too
// (a short haystack with no match then costs what find_n costs). The scan
// of starts takes over again once find_n found a match within kSparseGap
// positions of where it began, and when the positions left hold at least
// kStartsAhead more gaps like the one it crossed: a scan of starts costs a
// plan and a pass of masked loads over what is left, which a match near the
// end of a short haystack does not repay (one needle planted in 1 KiB,
// compare_matches.py's count rows).
inline constexpr std::size_t kStartsChunk = 4096;
inline constexpr std::size_t kStartsChunkMost = 64 * 1024;
inline constexpr std::size_t kSparseGap = 2048;
inline constexpr std::size_t kStartsAhead = 4;

}  // namespace qarvo::detail
