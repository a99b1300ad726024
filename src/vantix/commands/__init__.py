"""The operator commands beside the demo: one module per command, each with
an ``add_parser(commands)`` that registers it; ``common`` holds the exit
codes, logging and output shared by all of them."""
