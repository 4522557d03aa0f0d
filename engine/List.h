// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The intrusive two-way list that holds the engine's pages. Elements carry
// their own links and know the head that holds them; a head owns its
// elements and deletes them with itself. Nothing here allocates.
#pragma once

// The installed C++ headers need C++20 (std::span, defaulted comparisons):
// compile with -std=c++20 or later, which the CMake targets Folioset::* ask
// for. An older standard stops here with one message, not a page of errors.
#if __cplusplus < 202002L
#error "Folioset's C++ headers need C++20: compile with -std=c++20 or later"
#else

#include "Export.h"

class Link;

class FOLIO_EXPORT Linkage {
  public:
    virtual ~Linkage();
    virtual Link* Suc() const = 0;
    virtual Link* Pred() const = 0;
};

class FOLIO_EXPORT Head : public Linkage {
  public:
    Head();
    ~Head() override;
    Head(const Head&) = delete;
    Head& operator=(const Head&) = delete;

    Link* Suc() const override;  // first
    Link* Pred() const override; // last
    Link* First() const;
    Link* Last() const;
    void AddFirst(Link* l);
    void AddLast(Link* l);
    // Counts by walking the list; Empty counts too.
    int Cardinal() const;
    bool Empty() const;
    // Deletes every element through its virtual destructor.
    void Clear();

    Link* first;
    Link* last;
};

class FOLIO_EXPORT Link : public Linkage {
  public:
    Link();
    ~Link() override;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    Link* Suc() const override;
    Link* Pred() const override;
    bool inList() const;
    void RemoveElement();
    Link* Out();
    // Into h as its last element (null h: out of any list).
    void InTo(Head* h);
    void Precede(Head* h);
    // Into h as its first element (null h: out of any list).
    void Follow(Head* h);
    // Directly before / after x; a null or detached x leaves this detached.
    void Precede(Link* x);
    void Follow(Link* x);
    // Unguarded primitives: this is in a list, l is detached.
    void addAfter(Link* l);
    void addBefore(Link* l);

    Link* pred;
    Link* suc;
    Head* owner;
};

#endif // C++20
