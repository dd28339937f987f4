"""The vesk command: encode JSON files to VESK and back, inspect a container,
and check what a round trip through VESK changes in a JSON document."""

from vesk_cli.main import main

__all__ = ["main"]
