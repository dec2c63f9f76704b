"""A loopback HTTP server that misbehaves on purpose, chosen by the request path; also the slow server of the
web benchmark. Runs its asyncio loop in a background thread: start() answers the port."""
import asyncio
import socket
import struct
import threading

HEAD = b"HTTP/1.0 200 OK\r\nContent-Type: x\r\n\r\n"
NUL_BODY = b"a\x00b\r\n]=]\x00"
# A body that would write a line of its own into the log if its bytes were logged raw.
FORGE_BODY = b"ok\n$ server: player 9 joined as 1\r\n\x00\x1b[2J\x7f\\n"


def _reset(writer):
    sock = writer.get_extra_info("socket")
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    writer.transport.abort()


async def _endless(writer, first, chunk):
    writer.write(first)
    while True:
        writer.write(chunk)
        await writer.drain()


async def _serve(reader, writer):
    try:
        # "close" and "reset-before" act on the path in the request line, read as soon as it is there.
        line = await reader.readline()
        mode = line.split(b" ")[1].decode() if line.count(b" ") >= 2 else ""
        if mode == "/close":
            writer.close()
            return
        if mode == "/reset-before":
            _reset(writer)
            return
        await reader.readuntil(b"\n\n")
        if mode == "/garbage":
            writer.write(b"\x00\xff garbage\r\n\r\nrest")
        elif mode == "/bytewise":
            for b in HEAD + b"bytewise":
                writer.write(bytes([b]))
                await writer.drain()
                await asyncio.sleep(0.002)
        elif mode == "/silent":
            await asyncio.sleep(3600)
        elif mode == "/endless-head":
            await _endless(writer, b"HTTP/1.0 200 OK\r\n", b"X-Pad: " + b"y" * 4000 + b"\r\n")
        elif mode == "/endless-body":
            await _endless(writer, HEAD, b"z" * 65536)
        elif mode == "/reset-during":
            writer.write(HEAD[:10])
            await writer.drain()
            await asyncio.sleep(0.05)
            _reset(writer)
            return
        elif mode == "/reset-after":
            writer.write(HEAD + b"after")
            await writer.drain()
            await asyncio.sleep(0.05)
            _reset(writer)
            return
        elif mode == "/nul":
            writer.write(HEAD + NUL_BODY)
        elif mode == "/forge":
            writer.write(HEAD + FORGE_BODY)
        elif mode == "/":
            writer.write(HEAD + line.rstrip())
        elif mode == "/pause":
            # Slow but finite: the answer comes a tenth of a second after the request.
            await asyncio.sleep(0.1)
            writer.write(HEAD + b"ok")
        elif mode == "/late":
            # Answers once the large ones beside it have arrived.
            await asyncio.sleep(4)
            writer.write(HEAD + b"ok")
        elif mode == "/big-trickle":
            # 17 MiB at once, then a byte every 5 s: large and alive, never ending.
            writer.write(HEAD + b"b" * (17 << 20))
            while True:
                await writer.drain()
                await asyncio.sleep(5)
                writer.write(b".")
        elif mode == "/slow":
            writer.write(HEAD)
            while True:
                await writer.drain()
                await asyncio.sleep(1)
                writer.write(b".")
        await writer.drain()
        writer.close()
    except (ConnectionError, asyncio.IncompleteReadError, asyncio.LimitOverrunError, OSError):
        writer.transport.abort()


def start():
    """Starts the server on an ephemeral loopback port in a daemon thread; answers the port."""
    ready = threading.Event()
    box = {}

    def run():
        loop = asyncio.new_event_loop()
        server = loop.run_until_complete(asyncio.start_server(_serve, "127.0.0.1", 0, backlog=2048))
        box["port"] = server.sockets[0].getsockname()[1]
        ready.set()
        loop.run_forever()

    threading.Thread(target=run, daemon=True).start()
    ready.wait(10)
    return box["port"]
