#!/usr/bin/env python3
"""Writes a hostile table in the driver's --dump format, for orrelune-sim --load: masses from 1e-100
to 1e100 among ordinary ones, particles on or next to earlier ones (up to 1e-13 apart), positions on
the edges and a little outside them, signed zeros, dead records with velocities not finite.

usage: hostile_states.py SEED COUNT > FILE
"""
import random
import sys

seed, count = int(sys.argv[1]), int(sys.argv[2])
r = random.Random(seed)
records = []
for k in range(count):
    mass = r.uniform(0.1, 100) if r.random() > 0.12 else r.choice([1e-100, 1e100, 3e-60, 1e40, 1e-30, 0.0])
    radius = r.choice([0.0, 0.5, r.uniform(0, 3)])
    x = r.uniform(0, 1000) if r.random() > 0.06 else r.choice([0.0, 1000.0, 500.0, 1e-140, 999.9999999, -0.5, 1000.25])
    y = r.uniform(0, 700) if r.random() > 0.06 else r.choice([0.0, 700.0, 350.0, 699.999999, 700.25])
    vx = r.uniform(-50, 50) if r.random() > 0.1 else r.choice([0.0, -0.0, 1e6])
    vy = r.uniform(-50, 50) if r.random() > 0.1 else r.choice([0.0, -0.0])
    if k > 50 and r.random() < 0.15:
        other = records[r.randrange(k)]
        x = other[2] + r.choice([0.0, 1e-9, -1e-12, 1e-6])
        y = other[3] + r.choice([0.0, 2e-13, 1e-7])
    if mass == 0.0 and r.random() < 0.5:
        vx, vy = r.choice([float("nan"), float("inf")]), float("-inf")
    records.append((mass, radius, x, y, vx, vy))
for k, record in enumerate(records):
    print(k, *("%.17g" % v for v in record))
