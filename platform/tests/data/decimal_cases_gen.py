#!/usr/bin/env python3
"""Writes decimal_cases.txt: random packed decimal cases whose expected
results come from Python's decimal module, for decimal_reference_test.cc.

Run from this folder:  python3 decimal_cases_gen.py > decimal_cases.txt

Every line is one case, fields separated by "|"; the expected value is the
stored form in hexadecimal (or "null"):
  T|p|s|text|rc|hex            text_to_decimal into precision p, scale s
  R|p|s|text|rc|hex            text_to_decimal_rounded
  A|op|mode|pa|a|pb|b|rc|hex   decimal_arith: a (op) b into a's precision
  U|mode|n|p|s|a|rc|hex        decimal_truncate of a, stored at (p, s)
  C|pa|a|pb|b|truth            decimal_compare (an empty text is null)

The rules the values follow: a value is 0.d1..dp * 10^e with e in
-998..1000; conversions and arithmetic cut towards zero, the rounding reader
and modes 1 and 3 round half away from zero. Result codes: -1 when nonzero
digits were cut (the rounding reader: when it rounded up, or a digit after
the rounding digit was nonzero; decimal_truncate modes 1 and 3: only when they
rounded up, so rounding down drops nonzero digits without -1; text: also when
it has more fraction digits than the scale), -2/-3 overflow (null stored),
1 null.
"""

import random
from decimal import Decimal, Context, ROUND_DOWN, ROUND_HALF_UP, Inexact, setcontext

random.seed(20261210)
WIDE = Context(prec=600, Emax=10**7, Emin=-10**7, rounding=ROUND_DOWN)
# No operation below may round behind our back.
setcontext(WIDE)


def nbytes(p):
    return (p + 4) // 2


def zero_hex(p):
    return "80" + "00" * (nbytes(p) - 1)


def exponent(d):
    """e of 0.d1d2.. * 10^e for a nonzero value."""
    return d.adjusted() + 1


def encode(d, p):
    if d == 0:
        return zero_hex(p)
    sign, digits, exp = d.normalize(WIDE).as_tuple()
    digits = list(digits)
    assert len(digits) <= p, (d, p)
    field = exponent(d) + 3072
    nibbles = [field >> 8, (field >> 4) & 15, field & 15] + digits + [0] * (p - len(digits))
    if p % 2 == 0:
        nibbles.append(0)
    raw = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, len(nibbles), 2))
    if sign:
        raw = bytes(255 - b for b in raw)
    return raw.hex().upper()


def overflow(negative):
    return (-3 if negative else -2), "null"


def quantize(value, keep, rounding):
    """value kept to `keep` digits from its first one; returns (result, inexact)."""
    ctx = Context(prec=600, Emax=10**7, Emin=-10**7, rounding=rounding)
    q = Decimal(1).scaleb(exponent(value) - keep)
    r = value.quantize(q, context=ctx)
    return r, bool(ctx.flags[Inexact])


# ---- text to decimal ----------------------------------------------------

def random_text():
    sign = random.choice(["", "", "", "-", "+"])
    lead = "0" * random.choice([0, 0, 0, 1, 2, 5])
    ip = "".join(random.choice("0123456789") for _ in range(random.choice([0, 1, 2, 3, 5, 8, 15, 20, 30, 47])))
    fp = "".join(random.choice("0123456789") for _ in range(random.choice([0, 1, 2, 3, 5, 8, 15, 20, 30])))
    if random.random() < 0.2:
        fp = "0" * random.randint(1, 8) + fp
    if random.random() < 0.15:
        fp = fp + "0" * random.randint(1, 5)
    ip = lead + ip
    if not ip and not fp:
        ip = random.choice("0123456789")
    mant = ip + ("." + fp if fp or random.random() < 0.1 else "")
    if mant.startswith(".") and not fp:
        mant = "0" + mant
    exp = ""
    r = random.random()
    if r < 0.25:
        exp = random.choice("Ee") + random.choice(["", "+", "-"]) + str(random.randint(0, 40))
    elif r < 0.32:
        exp = random.choice("Ee") + random.choice(["+", "-"]) + str(random.randint(950, 1060))
    text = " " * random.choice([0, 0, 0, 1, 3]) + sign + mant + exp + " " * random.choice([0, 0, 0, 2])
    return text


def expect_text(text, p, s, rounding):
    body = text.strip()
    value = Decimal(body)
    mant, _, expo = body.lower().partition("e")
    text_exp = int(expo) if expo else 0
    ip, _, fp = mant.lstrip("+-").partition(".")
    negative = body.startswith("-")
    lost = s != -1 and s < len(fp) - text_exp
    if value == 0:
        return (-1 if lost else 0), zero_hex(p)
    e = exponent(value)
    if e > 1000:
        return overflow(negative)
    if e < -998:
        return -1, zero_hex(p)
    if s == -1:
        keep = p
    elif s <= p - e:
        keep = e + s
    else:
        return overflow(negative)
    if rounding:
        significant = (ip + fp).lstrip("0")
        lost |= any(c != "0" for c in significant[p + 1:])
        r, _ = quantize(value, keep, ROUND_HALF_UP)
        lost |= r.copy_abs() > value.copy_abs()
    else:
        r, inexact = quantize(value, keep, ROUND_DOWN)
        lost |= inexact
    if r != 0 and exponent(r) > e:
        if exponent(r) > 1000 or (s != -1 and s > p - exponent(r)):
            return overflow(negative)
    return (-1 if lost else 0), encode(r, p)


def random_precision():
    return random.choice([random.randint(1, 15), random.randint(1, 45)])


def random_scale(p):
    return -1 if random.random() < 0.5 else random.randint(0, p)


# ---- values for arithmetic, rounding and comparison ---------------------

def random_value(p, low=-20, high=20):
    if random.random() < 0.05:
        return Decimal(0)
    nd = random.randint(1, p)
    digits = [random.randint(1, 9)] + [random.randint(0, 9) for _ in range(nd - 1)]
    if random.random() < 0.2:  # runs of nines and zeros make carries and borrows
        fill = random.choice([0, 9])
        digits = digits[:1] + [fill] * (nd - 1)
    e = random.randint(low, high)
    return Decimal((random.randint(0, 1), tuple(digits), e - nd))


def expect_arith(op, mode, pa, a, b):
    lost = False
    if b == 0:
        if op in (1, 2):
            return 0, encode(a, pa)
        if op == 3:
            return 0, zero_hex(pa)
        return -4, "null"
    if a == 0 and op in (3, 4):
        return 0, zero_hex(pa)
    ctx = Context(prec=300, Emax=10**7, Emin=-10**7, rounding=ROUND_DOWN)
    exact = {1: ctx.add, 2: ctx.subtract, 3: ctx.multiply, 4: ctx.divide}[op](a, b)
    lost = bool(ctx.flags[Inexact])
    if exact == 0:
        return (-1 if lost and mode == 2 else 0), zero_hex(pa)
    e = exponent(exact)
    if e > 1000:
        return overflow(exact < 0)
    if e < -998:
        return (-1 if mode == 2 else 0), zero_hex(pa)
    r, inexact = quantize(exact, pa, ROUND_DOWN)
    lost |= inexact
    return (-1 if lost and mode == 2 else 0), encode(r, pa)


def expect_truncate(mode, n, p, s, a):
    if a == 0:
        return 0, zero_hex(p)
    e = exponent(a)
    keep = n if mode <= 2 else e + n
    keep = max(-1, min(keep, 46))
    if mode in (1, 3):
        r, _ = quantize(a, keep, ROUND_HALF_UP)
        lost = r.copy_abs() > a.copy_abs()
    else:
        r, lost = quantize(a, keep, ROUND_DOWN)
    if r != 0 and exponent(r) > e:
        if exponent(r) > 1000 or (s != -1 and s > p - exponent(r)):
            return overflow(a < 0)
    return (-1 if lost else 0), encode(r, p)


def text_of(d):
    return str(d)


def main():
    lines = []
    for _ in range(1600):
        p = random_precision()
        s = random_scale(p)
        t = random_text()
        rc, h = expect_text(t, p, s, False)
        lines.append(f"T|{p}|{s}|{t}|{rc}|{h}")
    for _ in range(900):
        p = random_precision()
        s = random_scale(p)
        t = random_text()
        rc, h = expect_text(t, p, s, True)
        lines.append(f"R|{p}|{s}|{t}|{rc}|{h}")
    for op in (1, 2, 3, 4):
        for i in range(1300 if op == 4 else 650):
            pa = random_precision()
            pb = random.choice([pa, random_precision()])
            if i % 50 == 0:
                a, b = random_value(pa, 990, 1000), random_value(pb, -5, 15)
            elif i % 50 == 1:
                a, b = random_value(pa, -998, -985), random_value(pb, -15, 5)
            else:
                spread = random.choice([0, 2, 5, 20, 60])
                a, b = random_value(pa, -spread, spread), random_value(pb, -spread, spread)
            r = random.random()
            if op in (1, 2) and r < 0.1:
                b = a.copy_negate() if op == 1 else a  # exact cancellation
                pb = pa
            elif op in (1, 2) and r < 0.2 and a != 0:
                # Nearly cancelling: b is a less a unit far below a's digits,
                # cut to pb digits, so that the digits of b shifted out decide.
                if random.random() < 0.5:  # a power of ten: b has one digit fewer before the point
                    a = Decimal((a.is_signed(), (1,), exponent(a) - 1))
                    pb = random.choice([pb, 15])  # b's last digit then lies beyond 15 nibbles
                near = a.copy_abs() - Decimal(1).scaleb(exponent(a) - random.randint(1, 20))
                b, _ = quantize(near, pb, ROUND_DOWN)
                if a < 0:
                    b = b.copy_negate()
                if op == 1:
                    b = b.copy_negate()
            mode = random.choice([1, 2, 2])
            rc, h = expect_arith(op, mode, pa, a, b)
            lines.append(f"A|{op}|{mode}|{pa}|{text_of(a)}|{pb}|{text_of(b)}|{rc}|{h}")
    for _ in range(700):
        p = random_precision()
        s = random_scale(p)
        a = random_value(p, -10, 10)
        mode = random.randint(1, 4)
        n = random.randint(-4, 47) if mode <= 2 else random.randint(-12, 20)
        rc, h = expect_truncate(mode, n, p, s, a)
        lines.append(f"U|{mode}|{n}|{p}|{s}|{text_of(a)}|{rc}|{h}")
    for _ in range(700):
        pa, pb = random_precision(), random_precision()
        a = random_value(pa, -6, 6)
        r = random.random()
        if r < 0.3:
            b = a  # the same value at another precision
            pb = max(pb, len(a.normalize(WIDE).as_tuple().digits))
        elif r < 0.4:
            b = a.copy_negate()
            pb = max(pb, len(a.normalize(WIDE).as_tuple().digits))
        else:
            b = random_value(pb, -6, 6)
        ta, tb = text_of(a), text_of(b)
        if random.random() < 0.03:
            ta = ""
        if random.random() < 0.03:
            tb = ""
        if ta == "" or tb == "":
            truth = 1
        else:
            truth = 2 if a < b else (3 if a == b else 4)
        lines.append(f"C|{pa}|{ta}|{pb}|{tb}|{truth}")
    print("\n".join(lines))


if __name__ == "__main__":
    main()
