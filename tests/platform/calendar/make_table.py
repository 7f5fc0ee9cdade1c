#!/usr/bin/env python3
"""Writes months.txt: one line per month from 1996 to 2099, taken from
Python's datetime, for the clock's calendar tests:

    year month days-in-month days-from-1970-to-the-1st weekday-of-the-1st (0 = Sunday)
"""
import calendar
import datetime
import os

EPOCH = datetime.date(1970, 1, 1)
out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "months.txt")
with open(out, "w") as f:
    for year in range(1996, 2100):
        for month in range(1, 13):
            first = datetime.date(year, month, 1)
            days = calendar.monthrange(year, month)[1]
            f.write(f"{year} {month} {days} {(first - EPOCH).days} {first.isoweekday() % 7}\n")
