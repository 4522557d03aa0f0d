// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The intrusive list. Placing an element next to itself, or making the first
// element first again, leaves the list as it is.
#include "List.h"

Linkage::~Linkage() = default;

Head::Head() : first(nullptr), last(nullptr) {}

Head::~Head() {
    Clear();
}

Link* Head::Suc() const {
    return first;
}
Link* Head::Pred() const {
    return last;
}
Link* Head::First() const {
    return Suc();
}
Link* Head::Last() const {
    return Pred();
}

void Head::AddFirst(Link* l) {
    if (!l || l == first)
        return;
    if (!first) {
        l->Out();
        first = last = l;
        l->owner = this;
        return;
    }
    l->Precede(first);
    first = l;
}

void Head::AddLast(Link* l) {
    if (!l || l == last)
        return;
    if (!last) {
        l->Out();
        first = last = l;
        l->owner = this;
        return;
    }
    l->Follow(last);
    last = l;
}

int Head::Cardinal() const {
    int n = 0;
    for (Link* l = first; l; l = l->Suc())
        ++n;
    return n;
}

bool Head::Empty() const {
    return Cardinal() == 0;
}

void Head::Clear() {
    Link* l = first;
    while (l) {
        Link* next = l->Suc();
        delete l;
        l = next;
    }
    last = nullptr;
    first = nullptr;
}

Link::Link() : pred(nullptr), suc(nullptr), owner(nullptr) {}

Link::~Link() {
    RemoveElement();
}

Link* Link::Suc() const {
    return suc;
}
Link* Link::Pred() const {
    return pred;
}
bool Link::inList() const {
    return owner != nullptr;
}

void Link::RemoveElement() {
    if (!owner)
        return;
    if (pred)
        pred->suc = suc;
    if (suc)
        suc->pred = pred;
    if (owner->first == this)
        owner->first = suc;
    if (owner->last == this)
        owner->last = pred;
    owner = nullptr;
    suc = nullptr;
    pred = nullptr;
}

Link* Link::Out() {
    RemoveElement();
    return this;
}

void Link::InTo(Head* h) {
    if (!h)
        Out();
    else
        h->AddLast(this);
}

void Link::Precede(Head* h) {
    InTo(h);
}

void Link::Follow(Head* h) {
    if (!h)
        Out();
    else
        h->AddFirst(this);
}

void Link::Precede(Link* x) {
    if (x == this)
        return;
    if (!x || !x->inList()) {
        Out();
        return;
    }
    Out();
    x->addBefore(this);
}

void Link::Follow(Link* x) {
    if (x == this)
        return;
    if (!x || !x->inList()) {
        Out();
        return;
    }
    Out();
    x->addAfter(this);
}

void Link::addAfter(Link* l) {
    l->pred = this;
    l->owner = owner;
    if (!suc) {
        suc = l;
    } else {
        suc->pred = l;
        l->suc = suc;
        suc = l;
    }
    if (owner->last == this)
        owner->last = l;
}

void Link::addBefore(Link* l) {
    l->owner = owner;
    l->suc = this;
    if (!pred) {
        pred = l;
    } else {
        pred->suc = l;
        l->pred = pred;
        pred = l;
    }
    if (owner->first == this)
        owner->first = l;
}
