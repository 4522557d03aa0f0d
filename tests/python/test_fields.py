# SPDX-License-Identifier: Apache-2.0
# Copyright 2026 The Folioset developers
# Templates from Python: build(fields=) gives the fax of the macro with the
# values written in (also for the previews, which build again), a value is
# never a command, and build_many builds one fax per record, lazily.
import pytest

import folioset

TEMPLATE = "Dear {{name}},\nOrder {{order.id}} of {{count}}\n"


@pytest.mark.parametrize("fields, plain, kinds", [
    ({"name": "Ada", "order": {"id": "B-7"}, "count": 3}, "Dear Ada,\nOrder B-7 of 3\n", []),
    ({"name": "Ada", "order": {"id": None}, "count": 3}, "Dear Ada,\nOrder  of 3\n",
     ["field-missing"]),
    # Two lines of text: the second is set, not carried out.
    ({"name": "x\n@CONVERT:PAGEBREAK", "order": {"id": 1}, "count": 2},
     None, []),
])
def test_build_fills_the_fields(fields, plain, kinds):
    fax = folioset.build(TEMPLATE, fields=fields)
    assert [d.kind for d in fax.diagnostics] == kinds
    assert fax.pages == 1
    if plain is not None:
        expected = folioset.build(plain)
        assert fax.tiff == expected.tiff
        assert fax.png(1) == expected.png(1)
    assert fax.tiff != folioset.build(TEMPLATE).tiff


@pytest.mark.parametrize("fields", [[("name", "Ada")], {"name": float("nan")}, {"name": object()}])
def test_fields_that_are_no_json_object_are_refused(fields):
    with pytest.raises(TypeError):
        folioset.build(TEMPLATE, fields=fields)


def test_build_many_builds_each_record_when_asked():
    taken = []

    def records():
        for name in ("Ada", "Grace", "Edsger"):
            taken.append(name)
            yield {"name": name, "order": {"id": len(taken)}, "count": 1}

    faxes = folioset.build_many(TEMPLATE, records())
    assert taken == []
    first = next(faxes)
    assert taken == ["Ada"]
    rest = list(faxes)
    assert taken == ["Ada", "Grace", "Edsger"]
    for fax, (name, number) in zip([first, *rest], [("Ada", 1), ("Grace", 2), ("Edsger", 3)]):
        assert fax.tiff == folioset.build(f"Dear {name},\nOrder {number} of 1\n").tiff
    with pytest.raises(TypeError):
        list(folioset.build_many(TEMPLATE, [{"name": "Ada"}, "not a record"]))
