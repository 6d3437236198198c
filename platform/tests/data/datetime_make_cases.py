#!/usr/bin/env python3
"""Writes datetime_cases.txt: random DATE, TIME, TIMESTAMP and INTERVAL cases
with the results Python's datetime gives, for platform/tests/datetime_test.cc.

Run from this folder: python3 datetime_make_cases.py  (fixed seed: the output
is reproducible). One case per line, fields separated by "|":

  date_text|TEXT|CODE                parse "YYYY-MM-DD": 0, -7 (no such day)
  add_days|DATE|N|RESULT             DATE + N days: the date, or -2 / -3
  add_months|DATE|N|RESULT           DATE + N months: the date, or -7 when the
                                     day does not exist in the new month (the
                                     system does not clamp the day, unlike
                                     dateutil's relativedelta), or -2 / -3
  ts_add|TIMESTAMP|SECONDS|MICROS|RESULT
                                     TIMESTAMP(6) + INTERVAL SECOND(12,6)
  time_add|TIME|SECONDS|MICROS|RESULT
                                     TIME(6) + interval: wraps at midnight
  ts_diff|A|B|SECONDS|MICROS         A - B as a day-time interval; seconds and
                                     microseconds carry the same sign
  ym_diff|A|B|MONTHS                 A - B as a year-month interval: the months
                                     of the dates only, days ignored (the
                                     system's rule; Python has no such one)
  week|DATE|WEEK                     ISO 8601 week (date.isocalendar())
  day|DATE|ORDINAL|WEEKDAY           day number from 0001-01-01 (toordinal-1)
                                     and weekday (0 = Monday)
  ds_interval|TEXT|SECONDS|MICROS    INTERVAL 'd hh:mm:ss.ffffff' DAY(6) TO
                                     SECOND(6), signed
  ts_text|TEXT|CODE                  parse into TIMESTAMP(6): 0, 2 (fraction
                                     digits beyond 6 cut), -7 (a field out of
                                     range: datetime refuses it), -3 (year 0,
                                     which datetime cannot hold; the system
                                     reports it as a year below 1), -9 (not the
                                     form YYYY-MM-DD HH:MM:SS[.f])
  time_text|TEXT|CODE                the same for TIME(6)
  frac_text|KIND|F|TEXT|CODE|STORED  a TIME ("time") or TIMESTAMP ("ts") text
                                     with 10 to 20 fraction digits into
                                     fractional precision F (0..9): 2 when a
                                     digit past the F-th is not zero, the
                                     ones past the ninth included, else 0;
                                     STORED is the value written back
  ts_format|Y|M|D|h|m|s|us|F|TEXT|CODE
                                     TIMESTAMP(F) of the fields, written as
                                     text: the fraction cut to F digits (code
                                     2 from the encoder when nonzero digits
                                     were cut)
  time_format|h|m|s|us|F|TEXT|CODE   the same for TIME(F)
  ts_sub|TIMESTAMP|SECONDS|MICROS|RESULT
                                     TIMESTAMP(6) - INTERVAL SECOND(12,6)
                                     (operation subtract)
  sub_months|DATE|N|RESULT           DATE - N months (operation subtract)
  date_diff|A|B|SECONDS              A - B as a day-time interval: days * 86400
  time_diff|A|B|SECONDS|MICROS       TIME A - TIME B as a day-time interval
  ym_interval|TEXT|MONTHS            INTERVAL 'y-m' YEAR(4) TO MONTH, signed,
                                     and written back
"""
import re

import calendar
import datetime as dt
import os
import random

rng = random.Random(20240315)
lines = []


def rand_date(lo=1, hi=9999):
    year = rng.randint(lo, hi)
    month = rng.randint(1, 12)
    day = rng.randint(1, calendar.monthrange(year, month)[1])
    return dt.date(year, month, day)


def rand_ts(lo=1, hi=9999):
    d = rand_date(lo, hi)
    return dt.datetime(d.year, d.month, d.day, rng.randint(0, 23), rng.randint(0, 59),
                       rng.randint(0, 59), rng.choice([0, rng.randint(0, 999999)]))


def dtext(d):
    return "%04d-%02d-%02d" % (d.year, d.month, d.day)


def tstext(t):
    return "%s %02d:%02d:%02d.%06d" % (dtext(t.date()), t.hour, t.minute, t.second,
                                      t.microsecond)


def split_td(td):
    """Seconds and microseconds of a timedelta, both with the sign of the whole."""
    total_us = (td.days * 86400 + td.seconds) * 1000000 + td.microseconds
    sign = -1 if total_us < 0 else 1
    s, us = divmod(abs(total_us), 1000000)
    return sign * s, sign * us


def months_later(d, n):
    """The date n months later, the day kept: -7 when the month has no such
    day (the system does not clamp), -3 / -2 when the year leaves 1..9999."""
    year, month = divmod(d.year * 12 + d.month - 1 + n, 12)
    month += 1
    if year < 1:
        return "-3"
    if year > 9999:
        return "-2"
    if d.day > calendar.monthrange(year, month)[1]:
        return "-7"
    return dtext(dt.date(year, month, d.day))


# Date texts: valid and invalid days, leap years by the Gregorian rule.
for year in (1900, 2000, 2023, 2024, 2100, 1600, 1, 9999):
    for month, day in ((2, 28), (2, 29), (2, 30), (4, 31), (12, 31), (13, 1), (0, 5), (6, 0)):
        try:
            dt.date(year, month, day)
            code = 0
        except ValueError:
            code = -7
        lines.append("date_text|%04d-%02d-%02d|%d" % (year, month, day, code))

for _ in range(80):
    d = rand_date()
    n = rng.choice([rng.randint(-400, 400), rng.randint(-3000000, 3000000)])
    try:
        r = dtext(d + dt.timedelta(days=n))
    except OverflowError:
        r = "-2" if n > 0 else "-3"
    lines.append("add_days|%s|%d|%s" % (dtext(d), n, r))
lines.append("add_days|0001-01-01|-1|-3")
lines.append("add_days|9999-12-31|1|-2")

for _ in range(80):
    d = rand_date(1, 9999)
    if rng.random() < 0.4:
        d = d.replace(day=min(31, calendar.monthrange(d.year, d.month)[1]))
    n = rng.choice([rng.randint(-30, 30), rng.randint(-130000, 130000)])
    lines.append("add_months|%s|%d|%s" % (dtext(d), n, months_later(d, n)))

for _ in range(80):
    t = rand_ts()
    secs = rng.choice([rng.randint(-100000, 100000), rng.randint(-10**11, 10**11)])
    us = rng.randint(0, 999999) * (-1 if secs < 0 else 1)
    try:
        r = tstext(t + dt.timedelta(seconds=secs, microseconds=us))
    except OverflowError:
        r = "-2" if secs > 0 else "-3"
    lines.append("ts_add|%s|%d|%d|%s" % (tstext(t), secs, us, r))

for _ in range(60):
    t = rand_ts(2000, 2000)
    secs = rng.randint(-10**7, 10**7)
    us = rng.randint(0, 999999) * (-1 if secs < 0 else 1)
    r = (dt.datetime.combine(dt.date(2000, 6, 15), t.time())
         + dt.timedelta(seconds=secs, microseconds=us)).time()
    lines.append("time_add|%02d:%02d:%02d.%06d|%d|%d|%02d:%02d:%02d.%06d" % (
        t.hour, t.minute, t.second, t.microsecond, secs, us, r.hour, r.minute, r.second,
        r.microsecond))

for _ in range(80):
    a, b = rand_ts(), rand_ts()
    if rng.random() < 0.3:
        b = a + dt.timedelta(seconds=rng.randint(-5, 5), microseconds=rng.randint(-10**6, 10**6))
    s, us = split_td(a - b)
    lines.append("ts_diff|%s|%s|%d|%d" % (tstext(a), tstext(b), s, us))

for _ in range(40):
    a, b = rand_date(), rand_date()
    lines.append("ym_diff|%s|%s|%d" % (dtext(a), dtext(b),
                                        (a.year - b.year) * 12 + a.month - b.month))

weeks = [dt.date(2021, 1, 3), dt.date(2024, 12, 30), dt.date(2020, 12, 31), dt.date(1, 1, 1),
         dt.date(9999, 12, 31), dt.date(2026, 1, 1), dt.date(2015, 12, 28)]
weeks += [rand_date() for _ in range(60)]
for d in weeks:
    lines.append("week|%s|%d" % (dtext(d), d.isocalendar()[1]))
    lines.append("day|%s|%d|%d" % (dtext(d), d.toordinal() - 1, d.weekday()))

for _ in range(60):
    days = rng.choice([0, rng.randint(0, 999999)])
    h, m, s, us = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59), rng.randint(0, 999999)
    neg = rng.random() < 0.4
    td = dt.timedelta(days=days, hours=h, minutes=m, seconds=s, microseconds=us)
    total, micro = split_td(-td if neg else td)
    lines.append("ds_interval|%s%d %02d:%02d:%02d.%06d|%d|%d" % ("-" if neg else "", days, h, m,
                                                                s, us, total, micro))

# Parsing: valid texts, fields out of range and malformed texts. The form is
# the system's: exact digit counts, one blank between date and time, blanks
# allowed around the whole text.
TS_FORM = re.compile(r"^ *(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})(?:\.(\d*))? *$")
TIME_FORM = re.compile(r"^ *(\d{2}):(\d{2}):(\d{2})(?:\.(\d*))? *$")


def expected_code(fields, fraction, date_fields, precision=6):
    if date_fields and int(fields[0]) == 0:
        return -3
    nums = [int(f) for f in fields]
    try:
        if date_fields:
            dt.datetime(*nums)
        else:
            dt.time(*nums)
    except ValueError:
        return -7
    # Every digit past the precision counts, also those past the ninth that
    # the value cannot hold.
    if fraction and len(fraction) > precision and int(fraction[precision:]) != 0:
        return 2
    return 0


def mutate(text):
    """A malformed variant: a digit dropped, a separator changed, a letter."""
    i = rng.randrange(len(text))
    kind = rng.randrange(4)
    if kind == 0:
        return text[:i] + text[i + 1:]
    if kind == 1:
        return text[:i] + rng.choice("/.:- T") + text[i + 1:]
    if kind == 2:
        return text[:i] + rng.choice("0123456789") + text[i:]
    return text[:i] + "x" + text[i + 1:]


def rand_fraction():
    return rng.choice(["", ".", "." + "".join(rng.choice("0123456789")
                                              for _ in range(rng.randint(1, 9)))])


for _ in range(150):
    year = rng.choice([rng.randint(1, 9999), 0, 2000, 1900, 2100])
    fields = [year, rng.randint(1, 12) if rng.random() < 0.9 else rng.choice([0, 13]),
              rng.randint(1, 31) if rng.random() < 0.9 else rng.choice([0, 32]),
              rng.randint(0, 23) if rng.random() < 0.9 else 24,
              rng.randint(0, 59) if rng.random() < 0.9 else 60,
              rng.randint(0, 59) if rng.random() < 0.9 else 60]
    if year == 0:
        fields[1:] = [1, 1, 0, 0, 0]
    text = "%04d-%02d-%02d %02d:%02d:%02d" % tuple(fields) + rand_fraction()
    if rng.random() < 0.1:
        text = " " * rng.randint(1, 2) + text + " " * rng.randint(0, 2)
    if rng.random() < 0.25:
        text = mutate(text)
    m = TS_FORM.match(text)
    code = expected_code(m.groups()[:6], m.group(7), True) if m else -9
    lines.append("ts_text|%s|%d" % (text, code))

for _ in range(80):
    fields = [rng.randint(0, 23) if rng.random() < 0.85 else 24,
              rng.randint(0, 59) if rng.random() < 0.9 else 60,
              rng.randint(0, 59) if rng.random() < 0.9 else 60]
    text = "%02d:%02d:%02d" % tuple(fields) + rand_fraction()
    if rng.random() < 0.25:
        text = mutate(text)
    m = TIME_FORM.match(text)
    code = expected_code(m.groups()[:3], m.group(4), False) if m else -9
    lines.append("time_text|%s|%d" % (text, code))

# Formatting at every fractional precision 0..6.
for _ in range(60):
    t = rand_ts()
    f = rng.randint(0, 6)
    micro = "%06d" % t.microsecond
    text = t.strftime("%Y-%m-%d %H:%M:%S").rjust(19, "0")
    text = "%s %02d:%02d:%02d" % (dtext(t.date()), t.hour, t.minute, t.second)
    text += ("." + micro[:f]) if f > 0 else ""
    code = 2 if int(micro[f:] or "0") != 0 else 0
    lines.append("ts_format|%d|%d|%d|%d|%d|%d|%d|%d|%s|%d" % (
        t.year, t.month, t.day, t.hour, t.minute, t.second, t.microsecond, f, text, code))
    tm = t.time()
    g = rng.randint(0, 6)
    ttext = tm.strftime("%H:%M:%S") + (("." + micro[:g]) if g > 0 else "")
    lines.append("time_format|%d|%d|%d|%d|%d|%s|%d" % (
        tm.hour, tm.minute, tm.second, tm.microsecond, g, ttext,
        2 if int(micro[g:] or "0") != 0 else 0))

# Subtraction.
for _ in range(60):
    t = rand_ts()
    secs = rng.choice([rng.randint(-100000, 100000), rng.randint(-10**11, 10**11)])
    us = rng.randint(0, 999999) * (-1 if secs < 0 else 1)
    try:
        r = tstext(t - dt.timedelta(seconds=secs, microseconds=us))
    except OverflowError:
        r = "-3" if secs > 0 else "-2"
    lines.append("ts_sub|%s|%d|%d|%s" % (tstext(t), secs, us, r))
for _ in range(40):
    d = rand_date()
    if rng.random() < 0.4:
        d = d.replace(day=calendar.monthrange(d.year, d.month)[1])
    n = rng.choice([rng.randint(-30, 30), rng.randint(-130000, 130000)])
    lines.append("sub_months|%s|%d|%s" % (dtext(d), n, months_later(d, -n)))

# Differences of dates and of times.
for _ in range(40):
    a, b = rand_date(), rand_date()
    lines.append("date_diff|%s|%s|%d" % (dtext(a), dtext(b), (a - b).days * 86400))
for _ in range(40):
    a, b = rand_ts(2000, 2000).time(), rand_ts(2000, 2000).time()
    s, us = split_td(dt.datetime.combine(dt.date(2000, 1, 1), a)
                     - dt.datetime.combine(dt.date(2000, 1, 1), b))
    lines.append("time_diff|%s|%s|%d|%d" % (a.strftime("%H:%M:%S.%f"), b.strftime("%H:%M:%S.%f"),
                                            s, us))

# ISO weeks around every turn of the year in a span of years, where the rules
# differ most.
for year in range(1995, 2031):
    for d in (dt.date(year, 12, 28) + dt.timedelta(days=k) for k in range(8)):
        lines.append("week|%s|%d" % (dtext(d), d.isocalendar()[1]))

for _ in range(30):
    y, m = rng.randint(0, 9999), rng.randint(0, 11)
    neg = rng.random() < 0.4 and (y or m)
    lines.append("ym_interval|%s%d-%d|%d|%s%d-%02d" % ("-" if neg else "", y, m,
                                                    -(y * 12 + m) if neg else y * 12 + m,
                                                    "-" if neg else "", y, m))

# Long fractions: 10 to 20 digits into every fractional precision. Random
# digits; zeros past the precision; or zeros past the precision but for one
# digit at the tenth place or later, which the value cannot hold but which
# still makes the cut a cut.
for _ in range(90):
    t = rand_ts()
    f = rng.randint(0, 9)
    n = rng.randint(10, 20)
    shape = rng.randrange(3)
    digits = [rng.choice("0123456789") for _ in range(n)]
    if shape > 0:
        digits[f:] = "0" * (n - f)
    if shape == 2:
        digits[rng.randint(9, n - 1)] = rng.choice("123456789")
    fraction = "".join(digits)
    ts = rng.random() < 0.5
    clock = "%02d:%02d:%02d" % (t.hour, t.minute, t.second)
    head = "%s %s" % (dtext(t.date()), clock) if ts else clock
    m = (TS_FORM if ts else TIME_FORM).match(head + "." + fraction)
    code = expected_code(m.groups()[:6] if ts else m.groups()[:3], m.groups()[-1], ts, f)
    stored = head + ("." + fraction[:f] if f > 0 else "")
    lines.append("frac_text|%s|%d|%s.%s|%d|%s" % ("ts" if ts else "time", f, head, fraction,
                                                  code, stored))

here = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(here, "datetime_cases.txt"), "w") as f:
    f.write("# Written by datetime_make_cases.py from Python's datetime; do not edit.\n")
    f.write("\n".join(lines) + "\n")
print(len(lines), "cases")
