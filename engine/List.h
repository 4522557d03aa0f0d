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

// For clients of libfoliolib.so: FaxImage::Pages is a Head of FaxPage
// elements. Walk it with First()/Suc() (null after the last) and leave it
// alone otherwise: the engine owns the list and its pages. None of these
// calls throws or allocates; none is safe against another thread changing
// the same list.
class Link;

// What a head and an element share: the neighbours.
class FOLIO_EXPORT Linkage {
  public:
    virtual ~Linkage();
    virtual Link* Suc() const = 0;
    virtual Link* Pred() const = 0;
};

// A list: its elements in order. A head owns its elements: destroying the
// head or calling Clear deletes them.
class FOLIO_EXPORT Head : public Linkage {
  public:
    Head();
    ~Head() override;
    Head(const Head&) = delete;
    Head& operator=(const Head&) = delete;

    Link* Suc() const override;  // first
    Link* Pred() const override; // last
    // The first and last elements; null when the list is empty.
    Link* First() const;
    Link* Last() const;
    // Takes `l` (out of any list it is in) as the first / last element; the
    // head then owns it. Null is ignored.
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

// An element, in at most one list at a time; derive from it. Destroying an
// element takes it out of its list first.
class FOLIO_EXPORT Link : public Linkage {
  public:
    Link();
    ~Link() override;
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The next / previous element; null at the ends and when not in a list.
    Link* Suc() const override;
    Link* Pred() const override;
    bool inList() const;
    // Take this element out of its list (the caller owns it again); Out
    // returns it. Harmless when it is in none.
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
