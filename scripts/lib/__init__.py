"""Python shared by scripts/soak and the bench scripts (bench/*.py).

scripts/soak imports it as `lib`; the bench scripts, run from the top of the
tree as modules (python3 -m bench.x10EndToEnd), as `scripts.lib`.
"""
