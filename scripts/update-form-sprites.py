#!/usr/bin/env python3
"""Copies the eight sprite blocks of assets/sprites.txt (written by tools/gensprites) into the stored form
description app/Unit1Form.inc, in place of its eight Picture.Data blocks. Run it after regenerating the
sprites; tests/app/headless_test.cpp checks that the two agree."""
import pathlib
import re
import sys

root = pathlib.Path(__file__).resolve().parent.parent
sprites = (root / "assets" / "sprites.txt").read_text()
blocks = re.findall(r"\{[^}]*\}", sprites)
if len(blocks) != 8:
    sys.exit(f"assets/sprites.txt holds {len(blocks)} blocks, not 8")

form_path = root / "app" / "Unit1Form.inc"
form = form_path.read_text()
pattern = re.compile(r"(\n(\s*)Picture\.Data = )\{[^}]*\}")
if len(pattern.findall(form)) != 8:
    sys.exit("app/Unit1Form.inc does not hold 8 Picture.Data blocks")
queue = list(blocks)


def replace(match):
    indent = match.group(2) + "  "
    lines = [line.strip() for line in queue.pop(0).splitlines()]
    return match.group(1) + "{\n" + "\n".join(indent + line for line in lines[1:])


form_path.write_text(pattern.sub(replace, form))
