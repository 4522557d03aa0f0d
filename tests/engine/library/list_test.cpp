// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The intrusive list: invariants after every operation, moves between lists,
// ownership on deletion.
#include "List.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Item : Link {
    explicit Item(int v, int* deaths = nullptr) : value(v), deaths(deaths) {}
    ~Item() override {
        if (deaths)
            ++*deaths;
    }
    int value;
    int* deaths;
};

// Walks forward and backward and checks invariant 2 on the way.
std::vector<int> values(const Head& h) {
    std::vector<int> out;
    Link* prev = nullptr;
    for (Link* l = h.First(); l; l = l->Suc()) {
        EXPECT_EQ(l->owner, &h);
        EXPECT_EQ(l->Pred(), prev);
        out.push_back(static_cast<Item*>(l)->value);
        prev = l;
    }
    EXPECT_EQ(h.Last(), prev);
    std::vector<int> back;
    for (Link* l = h.Last(); l; l = l->Pred())
        back.insert(back.begin(), static_cast<Item*>(l)->value);
    EXPECT_EQ(out, back);
    EXPECT_EQ(h.Cardinal(), int(out.size()));
    EXPECT_EQ(h.Empty(), out.empty());
    return out;
}

void expectDetached(const Link& l) {
    EXPECT_EQ(l.pred, nullptr);
    EXPECT_EQ(l.suc, nullptr);
    EXPECT_EQ(l.owner, nullptr);
    EXPECT_FALSE(l.inList());
}

using V = std::vector<int>;

TEST(List, EmptyHead) {
    Head h;
    EXPECT_EQ(h.First(), nullptr);
    EXPECT_EQ(h.Last(), nullptr);
    EXPECT_EQ(h.Cardinal(), 0);
    EXPECT_TRUE(h.Empty());
    h.Clear();
    EXPECT_TRUE(h.Empty());
    h.AddFirst(nullptr);
    h.AddLast(nullptr);
    EXPECT_TRUE(h.Empty());
}

TEST(List, AddFirstAndLastBuildTheOrder) {
    Head h;
    h.AddLast(new Item(2));
    h.AddLast(new Item(3));
    h.AddFirst(new Item(1));
    EXPECT_EQ(values(h), (V{1, 2, 3}));
    EXPECT_EQ(h.First()->Pred(), nullptr);
    EXPECT_EQ(h.Last()->Suc(), nullptr);
}

TEST(List, AddLastMovesFromAnotherList) {
    Head a, b;
    auto* x = new Item(1);
    a.AddLast(x);
    a.AddLast(new Item(2));
    b.AddLast(new Item(9));
    b.AddLast(x);
    EXPECT_EQ(values(a), (V{2}));
    EXPECT_EQ(values(b), (V{9, 1}));
    // Into an empty list, out of a full one.
    Head c;
    c.AddFirst(x);
    EXPECT_EQ(values(b), (V{9}));
    EXPECT_EQ(values(c), (V{1}));
}

TEST(List, AddFirstMovesAMemberToTheFront) {
    Head h;
    Item* items[3];
    for (int i = 0; i < 3; ++i)
        h.AddLast(items[i] = new Item(i));
    h.AddFirst(items[2]);
    EXPECT_EQ(values(h), (V{2, 0, 1}));
    h.AddFirst(items[0]);
    EXPECT_EQ(values(h), (V{0, 2, 1}));
    // Placing the first element first again, or the last last, changes nothing.
    h.AddFirst(items[0]);
    h.AddLast(items[1]);
    EXPECT_EQ(values(h), (V{0, 2, 1}));
}

TEST(List, PrecedeAndFollowAnElement) {
    Head h;
    auto *a = new Item(1), *b = new Item(2), *c = new Item(3);
    h.AddLast(a);
    h.AddLast(c);
    b->Follow(a);
    EXPECT_EQ(values(h), (V{1, 2, 3}));
    c->Precede(a);
    EXPECT_EQ(values(h), (V{3, 1, 2}));
    a->Follow(b);
    EXPECT_EQ(values(h), (V{3, 2, 1}));
    b->Follow(b); // outside the contract: nothing changes
    EXPECT_EQ(values(h), (V{3, 2, 1}));
}

TEST(List, DetachedOrNullAnchorDetaches) {
    Head h;
    auto* e = new Item(1);
    h.AddLast(e);
    h.AddLast(new Item(2));
    Item anchor(7);
    e->Follow(&anchor);
    expectDetached(*e);
    EXPECT_EQ(values(h), (V{2}));
    h.AddFirst(e);
    e->Precede(static_cast<Link*>(nullptr));
    expectDetached(*e);
    h.AddFirst(e);
    e->InTo(nullptr);
    expectDetached(*e);
    h.AddFirst(e);
    e->Follow(static_cast<Head*>(nullptr));
    expectDetached(*e);
    delete e;
}

TEST(List, HeadFormsOfPrecedeFollowAndInTo) {
    Head h;
    auto *a = new Item(1), *b = new Item(2), *c = new Item(3);
    a->InTo(&h);
    b->Precede(&h);
    c->Follow(&h);
    EXPECT_EQ(values(h), (V{3, 1, 2}));
    EXPECT_EQ(a->Out(), a);
    expectDetached(*a);
    a->Out(); // on a detached element: nothing
    expectDetached(*a);
    delete a;
    EXPECT_EQ(values(h), (V{3, 2}));
}

TEST(List, DeletingAnElementJoinsItsNeighbours) {
    struct Case {
        int victim;
        V rest;
    } cases[] = {{0, {1, 2, 3}}, {2, {0, 1, 3}}, {3, {0, 1, 2}}};
    for (const Case& k : cases) {
        Head h;
        Item* items[4];
        for (int i = 0; i < 4; ++i)
            h.AddLast(items[i] = new Item(i));
        delete items[k.victim];
        EXPECT_EQ(values(h), k.rest) << "victim " << k.victim;
    }
    Head h;
    h.AddLast(new Item(5));
    delete h.First();
    EXPECT_TRUE(h.Empty());
    EXPECT_EQ(h.Last(), nullptr);
}

TEST(List, HeadDeletesItsElementsButNotTheOnesTakenOut) {
    int deaths = 0;
    auto* survivor = new Item(9, &deaths);
    {
        Head h;
        for (int i = 0; i < 5; ++i)
            h.AddLast(new Item(i, &deaths));
        h.AddLast(survivor);
        survivor->Out();
    }
    EXPECT_EQ(deaths, 5);
    expectDetached(*survivor);
    delete survivor;
    EXPECT_EQ(deaths, 6);

    Head h;
    h.AddLast(new Item(1, &deaths));
    h.AddLast(new Item(2, &deaths));
    h.Clear();
    EXPECT_EQ(deaths, 8);
    EXPECT_TRUE(h.Empty());
}

TEST(List, PrimitivesInsertNextToTheAnchor) {
    Head h;
    auto *a = new Item(1), *b = new Item(2), *c = new Item(3);
    h.AddLast(a);
    a->addAfter(c);
    a->addAfter(b);
    EXPECT_EQ(values(h), (V{1, 2, 3}));
    auto* z = new Item(0);
    a->addBefore(z);
    EXPECT_EQ(values(h), (V{0, 1, 2, 3}));
    EXPECT_EQ(h.First(), z);
}

} // namespace
