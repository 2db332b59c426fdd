"""Two loopback listeners that accept and never answer. Prints their ports on one line;
when standard input closes, prints what each heard, the two separated by a line "--"."""
import select
import socket
import sys

listeners = []
for _ in range(2):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    s.listen(8)
    listeners.append(s)
print(" ".join(str(s.getsockname()[1]) for s in listeners), flush=True)

heard = {s: b"" for s in listeners}
owner = {}
while True:
    ready, _, _ = select.select(listeners + list(owner) + [sys.stdin], [], [])
    if sys.stdin in ready and not sys.stdin.buffer.read1(1):
        break
    for r in ready:
        if r in heard:
            conn, _ = r.accept()
            owner[conn] = r
        elif r in owner:
            data = r.recv(65536)
            heard[owner[r]] += data
            if not data:
                del owner[r]
sys.stdout.buffer.write(heard[listeners[0]] + b"\n--\n" + heard[listeners[1]])
