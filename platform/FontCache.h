// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// A small file of font lookups fontconfig has already answered, so that a
// process whose every lookup is in it never starts fontconfig (whose start,
// parsing its XML configuration, costs more than setting a one-page fax).
// The file records, besides the answers, a fingerprint of fontconfig's
// inputs: the environment it reads, and the identity, size and times of its
// configuration files and folders and of every font folder it scans. A file
// whose fingerprint no longer matches the machine, or that is damaged, too
// large, a symbolic link, not owned by the user or writable by others, is
// ignored and rewritten from fontconfig's answers.
//
// The file is $XDG_CACHE_HOME/folioset/fonts-v1 (~/.cache/... without
// XDG_CACHE_HOME); FOLIOSET_FONT_CACHE=0 turns the cache off and
// FOLIOSET_FONT_CACHE=<path> names another file. Every member is safe to
// call from any thread.
#pragma once

#include <string>
#include <vector>

namespace folio::fontcache {

struct FaceAnswer {
    std::string file;
    int index = 0;
};

struct MatchAnswer {
    int kind = 0; // FaceMatch::Kind
    std::string family;
};

// The recorded answer for a face lookup (family name, weight, slant), when
// the file holds one, its fingerprint matches and the face file is still the
// one that was recorded.
bool FindFace(const std::string& name, bool bold, bool italic, FaceAnswer& out);
// The recorded answer for a family-name match.
bool FindMatch(const std::string& name, MatchAnswer& out);

// Records fontconfig's answer and rewrites the file. `watched` are the
// paths fontconfig reported reading (configuration files and folders, font
// folders), added to the fingerprint.
void AddFace(const std::string& name, bool bold, bool italic, const FaceAnswer& answer,
             const std::vector<std::string>& watched);
void AddMatch(const std::string& name, const MatchAnswer& answer,
              const std::vector<std::string>& watched);

// Forgets what was read, so that the next look-up reads the file again
// (after the environment changed: tests).
void Forget();

// Look-ups answered from the file, and those that were not, since Forget.
struct Counts {
    unsigned hits = 0;
    unsigned misses = 0;
};
Counts LookupCounts();

} // namespace folio::fontcache
