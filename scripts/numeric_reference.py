#!/usr/bin/env python3
"""Writes interp/tests/data/numeric_reference.txt: random cases of the numeric
functions (ROUND, TRUNC, CEILING, FLOOR, ABS, SIGN, MOD on packed decimals,
the float functions of one and two arguments) with their results computed by
Python's decimal and math modules. interp/tests/numeric_functions_test.cc
runs every case through the interpreter and compares.

Line format: OP PRECISION A B EXPECTED
  OP        TRU1..TRU4 (B the places), CEIL, FLOOR, ABS, SIGN, MOD (B the
            divisor), TRG<code> (B "-"), TRT<code>
  EXPECTED  an exact decimal for the decimal functions, a float (repr) for
            the float functions, or E<error number>

Run: python3 scripts/numeric_reference.py > interp/tests/data/numeric_reference.txt
"""
import decimal
import math
import random
from decimal import Decimal, ROUND_CEILING, ROUND_DOWN, ROUND_FLOOR, ROUND_HALF_UP

decimal.getcontext().prec = 200
rng = random.Random(20261211)
PRECISIONS = [3, 5, 9, 15, 20, 31, 45]
# The system's own pi of DEGREES and RADIANS, and its flush of sine and
# cosine results below 5e-16 to zero.
SYSTEM_PI = 3.14159265358979
NEGLIGIBLE = 5e-16


def random_decimal(p, low_exp=-12, high_exp=12):
    digits = rng.randint(1, p)
    mantissa = rng.randint(10 ** (digits - 1), 10 ** digits - 1)
    if rng.random() < 0.5:
        mantissa = -mantissa
    exponent = rng.randint(low_exp, high_exp) - digits
    return Decimal(mantissa).scaleb(exponent)


def cut(value, p):
    """The value cut towards zero to p significant digits, as the store does."""
    return decimal.Context(prec=p, rounding=ROUND_DOWN).plus(value)


def text(d):
    return format(d.normalize(), 'E') if d != 0 else '0'


def significant(value, n, rounding):
    if value == 0:
        return value
    return value.quantize(Decimal(1).scaleb(value.adjusted() - n + 1), rounding=rounding)


def decimal_cases(out):
    for _ in range(400):
        p = rng.choice(PRECISIONS)
        a = random_decimal(p)
        kind = rng.choice(['TRU1', 'TRU2', 'TRU3', 'TRU4', 'CEIL', 'FLOOR', 'ABS', 'SIGN', 'MOD'])
        b = '-'
        if kind in ('TRU1', 'TRU2'):
            n = rng.randint(1, p)
            b = str(n)
            r = significant(a, n, ROUND_HALF_UP if kind == 'TRU1' else ROUND_DOWN)
        elif kind in ('TRU3', 'TRU4'):
            n = rng.randint(-5, 12)
            b = str(n)
            r = a.quantize(Decimal(1).scaleb(-n), rounding=ROUND_HALF_UP if kind == 'TRU3' else ROUND_DOWN)
        elif kind == 'CEIL':
            r = a.to_integral_value(rounding=ROUND_CEILING)
        elif kind == 'FLOOR':
            r = a.to_integral_value(rounding=ROUND_FLOOR)
        elif kind == 'ABS':
            r = abs(a)
        elif kind == 'SIGN':
            r = Decimal((a > 0) - (a < 0))
        else:
            divisor = random_decimal(p, -6, 6)
            # A quotient of at most 40 integer digits: its whole part is exact
            # in the 45 digits the remainder is worked in.
            while abs(a / divisor) >= Decimal(10) ** 40:
                divisor = random_decimal(p, -6, 6)
            b = text(divisor)
            r = cut(a % divisor, p)
        out.append(f'{kind} {p} {text(a)} {b} {text(r)}')


def float_text(x):
    return '0' if x == 0 else repr(x)


def float_number(low, high):
    """A number of at most 15 significant digits in [low, high]."""
    return float(Decimal(repr(rng.uniform(low, high))).quantize(Decimal('1E-6')))


ONE_ARGUMENT = {
    1: (math.acos, (-1, 1)), 2: (math.asin, (-1, 1)), 3: (math.atan, (-1e6, 1e6)),
    4: (math.cos, (-10, 10)), 5: (lambda x: 1 / math.tan(x), (-3, 3)),
    6: (lambda x: x * 180 / SYSTEM_PI, (-1e6, 1e6)), 7: (math.log, (1e-6, 1e9)),
    8: (math.log10, (1e-6, 1e9)), 9: (lambda x: x * SYSTEM_PI / 180, (-1e6, 1e6)),
    10: (math.sin, (-10, 10)), 11: (math.sqrt, (0, 1e12)), 12: (math.tan, (-1.5, 1.5)),
    13: (math.exp, (-50, 50)),
}
TWO_ARGUMENTS = {31: (math.atan2, (-1e3, 1e3), (-1e3, 1e3)), 32: (math.pow, (0.01, 100), (-6, 6))}
DOMAIN_ERRORS = [(11, '-2'), (7, '0'), (7, '-1'), (8, '-5'), (1, '2'), (2, '-1.5'), (5, '0')]


def float_cases(out):
    for _ in range(160):
        code = rng.choice(list(ONE_ARGUMENT))
        function, (low, high) = ONE_ARGUMENT[code]
        x = float_number(low, high)
        r = function(x)
        if code in (4, 10) and abs(r) < NEGLIGIBLE:
            r = 0.0
        out.append(f'TRG{code} 15 {float_text(x)} - {float_text(r)}')
    for _ in range(60):
        code = rng.choice(list(TWO_ARGUMENTS))
        function, (xl, xh), (yl, yh) = TWO_ARGUMENTS[code]
        x, y = float_number(xl, xh), float_number(yl, yh)
        out.append(f'TRT{code} 15 {float_text(x)} {float_text(y)} {float_text(function(x, y))}')
    for code, x in DOMAIN_ERRORS:
        try:
            ONE_ARGUMENT[code][0](float(x))
            raise SystemExit(f'code {code} of {x} is no domain error')
        except (ValueError, ZeroDivisionError):
            out.append(f'TRG{code} 15 {x} - E-10306')
    try:
        math.pow(-8, 1 / 3)
        raise SystemExit('pow(-8, 1/3) is no domain error')
    except ValueError:
        out.append(f'TRT32 15 -8 {float_text(1 / 3)} E-10306')


def main():
    out = []
    decimal_cases(out)
    float_cases(out)
    print('\n'.join(out))


main()
