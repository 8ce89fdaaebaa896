"""JSON round trip bit for bit, and pickling."""
import pickle

import numpy as np
import pytest

import quorvex
from quorvex import Calibration
from conftest import curve_data


def same(a, b):
    """Equal bit for bit, NaN included."""
    if isinstance(a, np.ndarray) or isinstance(b, np.ndarray):
        return (a is None) == (b is None) and np.asarray(a).tobytes() == np.asarray(b).tobytes() \
            and np.asarray(a).shape == np.asarray(b).shape
    return a == b or (a != a and b != b)


CASES = [
    dict(degree=1),
    dict(u_y=0.05, degree=3),
    dict(u_y=0.05, u_x=0.02, degree=2),
]


@pytest.mark.parametrize("kw", CASES)
def test_json_and_pickle_round_trip_exactly(kw):
    x, y = curve_data(25, [2.0, 5.0, 0.5, -0.1], 0.05, 61, u_x=0.02)
    y = y * np.pi * 1e-3  # digits that a short float format would lose
    cal = quorvex.fit(x, y, **kw)
    text = cal.to_json()
    back = Calibration.from_json(text)
    unpickled = pickle.loads(pickle.dumps(cal))
    for other in (back, unpickled):
        for name in cal.__dataclass_fields__:
            assert same(getattr(cal, name), getattr(other, name)), name
        assert other.to_json() == text
        assert not other.coef.flags.writeable
    pts = np.linspace(cal.xmin, cal.xmax, 9)
    assert cal(pts).tobytes() == back(pts).tobytes() == unpickled(pts).tobytes()
    assert str(back) == str(cal)


def test_summary_lists_the_fit():
    x, y = curve_data(25, [2.0, 5.0, 0.5], 0.05, 62, u_x=0.02)
    cal = quorvex.fit(x, y, u_y=0.05, u_x=0.02, degree=2)
    text = cal.summary()
    for k in range(3):
        assert f"c{k}" in text
    for word in ("SRES", "chi2", "degrees of freedom 22", "status", "iterations",
                 "errors in variables"):
        assert word in text
    assert repr(float(cal.coef[1])) in text  # the exact record, every digit


def test_from_json_refuses_other_records():
    with pytest.raises(quorvex.InputError):
        Calibration.from_json('{"format": "something else"}')


def test_a_record_may_carry_more_keys_but_not_lack_fields():
    """from_dict reads the calibration's own fields and ignores other keys on purpose (the
    command line's calibration.json adds "results"); a missing field or a newer format
    version is refused in words."""
    import json
    x, y = curve_data(9, [2.0, 5.0], 0.05, 3)
    cal = quorvex.fit(x, y, u_y=0.05)
    d = cal.to_dict()
    back = Calibration.from_dict({**d, "results": {"title": "t"}, "comment": [1, 2]})
    assert back.to_json() == cal.to_json()
    assert Calibration.from_json(json.dumps({**d, "results": None})).to_json() == cal.to_json()
    for change, message in (
            (lambda r: r.pop("coef"), "record without coef"),
            (lambda r: (r.pop("x"), r.pop("cov")), "record without cov, x"),
            (lambda r: r.update(version=2), "format version 2"),
            (lambda r: r.update(format="other"), "not a quorvex.Calibration record")):
        r = json.loads(cal.to_json())
        change(r)
        with pytest.raises(quorvex.InputError, match=message):
            Calibration.from_dict(r)
