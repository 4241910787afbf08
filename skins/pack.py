#!/usr/bin/env python3
"""Packs a Qt style sheet into a skin file: the sheet's bytes as one zlib stream."""
import sys
import zlib

if len(sys.argv) != 3:
    sys.exit("usage: pack.py SHEET.qss OUT.skn")
with open(sys.argv[1], "rb") as f:
    data = f.read()
tmp = sys.argv[2] + ".tmp"
with open(tmp, "wb") as f:
    f.write(zlib.compress(data, 9))
import os
os.replace(tmp, sys.argv[2])
