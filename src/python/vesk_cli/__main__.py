import sys

from vesk_cli.main import main

sys.exit(main())
