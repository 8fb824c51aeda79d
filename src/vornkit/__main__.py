"""``python -m vornkit``: the same command line as the ``vornkit`` script."""

import sys

try:
    from vornkit.cli import main
except KeyboardInterrupt:  # Ctrl-C while the modules load: no traceback either
    sys.exit(130)

sys.exit(main())
