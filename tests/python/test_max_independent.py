"""The rank bound n*d - d(d+1)/2, as max_independent reports it."""

import pytest

import trussel


def exact_bound(n: int, d: int) -> int:
    return max(0, n * d - d * (d + 1) // 2)


@pytest.mark.parametrize(
    ("n", "d", "expected"),
    [
        (3, 2, 3),
        (4, 3, 6),
        (10, 2, 17),
        (10, 3, 24),
        (2, 2, 1),
        (2, 3, 0),
        (0, 0, 0),
        (5, 1, 4),
        # Where the formula is negative the bound is 0, never a wrapped value.
        (1, 2, 0),
        (1, 3, 0),
        (0, 2, 0),
        (0, 3, 0),
        (3, 7, 0),
    ],
)
def test_values(n, d, expected):
    assert trussel.max_independent(n, d) == expected
    assert trussel.max_independent(n=n, d=d) == expected


@pytest.mark.parametrize(
    ("n", "d"),
    [
        (2**63, 3),
        (2**64 - 1, 2),
        (2**64 - 1, 2**64 - 1),
        (2**32, 2**32),
        (5, 2**64 - 1),
        (2**64 - 1, 1),
        (1, 2**64 - 1),
        (2**33, 2**31 + 12345),
    ],
)
def test_huge_counts_are_exact(n, d):
    assert trussel.max_independent(n, d) == exact_bound(n, d)
    assert type(trussel.max_independent(n, d)) is int


def test_sweep_against_the_formula():
    for n in range(0, 40):
        for d in range(0, 12):
            assert trussel.max_independent(n, d) == exact_bound(n, d), (n, d)


def test_first_bad_argument_ends_the_call():
    with pytest.raises(OverflowError):
        trussel.max_independent(-1, 2.5)
    with pytest.raises(TypeError, match="^argument 'n': "):
        trussel.max_independent(2.5, -1)
    with pytest.raises(TypeError, match="^argument 'd': "):
        trussel.max_independent(1, 2.5)
