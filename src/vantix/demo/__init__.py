"""The end-to-end demo: camera frames -> feature bank -> verdicts -> PLC registers."""
