// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// What a fax costs to send, known before it is sent: each page coded in
// memory by the TIFF writer's own coder, in the coding and resolution the fax
// file is written with, and the time those bits take on the line at the two
// usual modem rates with the fixed time of the fax protocol around them.
// foliobuild --stats prints the figures; a build that asks for them also
// reports a page that would take very long (kind::PageSlow).
//
// The model, in seconds: a page takes its coded bits at the line rate (no
// fill: a minimum scan line time of 0 ms, as receivers of today ask) plus
// kPageOverheadSeconds; a call takes the sum of its pages plus
// kCallSetupSeconds once. Dialling, ringing and answering are not counted.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

class Head;

namespace folio {

// The modem rates reckoned with, in bit/s: V.29 and V.17.
inline constexpr int kRateV29 = 9600;
inline constexpr int kRateV17 = 14400;
// After each page: the post-page message (MPS or EOP) and the receiver's
// confirmation (MCF), each a frame at 300 bit/s behind a 1 s preamble, the
// turnarounds between them and the modem's training before the next page.
inline constexpr double kPageOverheadSeconds = 3.0;
// Once per call, phase B: the receiver's capabilities (DIS), the sender's
// choice (DCS), the 1.5 s training check (TCF) and its confirmation (CFR).
inline constexpr double kCallSetupSeconds = 6.0;
// A page that takes longer than this at kRateV17 is reported as page-slow.
inline constexpr double kSlowPageSeconds = 60.0;

struct PageCost {
    std::size_t bytes = 0;  // the page's code: the bytes of its strip in the file
    int blackPermille = -1; // black pixels per thousand; -1 when not known
};

// Seconds one page of `bytes` coded bytes takes at `bitRate`, with its
// post-page exchange.
inline double PageSeconds(std::size_t bytes, int bitRate) {
    return double(bytes) * 8.0 / double(bitRate) + kPageOverheadSeconds;
}

// Seconds the whole call takes at `bitRate`: the set-up and every page.
double CallSeconds(const std::vector<PageCost>& pages, int bitRate);

// Codes the first `count` pages of `pages` (FaxPage links) as a fax file in
// `mode` (a TIFLIB_FAX_ coding; the _REFERENCE ones code as their own
// counterparts, which make the same bytes) at `resolution`, and counts their
// black pixels. Replaces `costs`. False with `error` set when a page cannot
// be coded (a size the writer refuses, no memory for the code); throws
// std::bad_alloc when its rows cannot be had.
bool CostPages(const Head& pages, int count, int mode, int resolution, std::vector<PageCost>& costs,
               std::string& error);

// The page-slow message for page `number` (from 1), or empty when the page
// is not slow.
std::string SlowPageMessage(int number, const PageCost& cost);

} // namespace folio
