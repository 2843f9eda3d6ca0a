"""pyftpdlib as a benchmark peer: one process, one event loop.

    python3 pyftpdlib_server.py PORT ROOT

One account, bench/bench, with every permission below ROOT. Logging is kept to
warnings so that the console is not what limits it; downloads use sendfile.
"""

import logging
import resource
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    port, root = int(sys.argv[1]), sys.argv[2]
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))  # a thousand idle clients
    logging.basicConfig(level=logging.WARNING)
    authorizer = DummyAuthorizer()
    authorizer.add_user("bench", "bench", root, perm="elradfmwMT")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.use_sendfile = True
    server = FTPServer(("127.0.0.1", port), handler)
    server.max_cons = 2048
    server.max_cons_per_ip = 0
    server.serve_forever()


if __name__ == "__main__":
    main()
