from vantix.cli import main_entry

main_entry()
