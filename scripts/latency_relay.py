#!/usr/bin/env python3
"""A TCP relay that delays each direction by a fixed time and counts SMB2 requests.

    latency_relay.py LISTEN_ADDR:PORT TARGET_ADDR:PORT DELAY_MS COUNT_FILE

Every byte from a client reaches the target DELAY_MS later, and every byte
back as late again, in order and without a bandwidth limit (what a network
with that one-way latency does). The requests the clients send (SMB2 headers,
compounded ones each counted, in NetBIOS session frames) are counted; the
totals (frames and requests) are written to COUNT_FILE at each change of
the connection count and on SIGTERM, as "frames requests".
"""
import asyncio
import signal
import sys
import time


class Counter:
    def __init__(self, path):
        self.path = path
        self.frames = 0
        self.requests = 0

    def save(self):
        with open(self.path, "w") as out:
            out.write(f"{self.frames} {self.requests}\n")


def count_requests(frame):
    """The SMB2 requests of one NetBIOS frame, compounded ones included."""
    count, at = 0, 0
    while at + 24 <= len(frame) and frame[at:at + 4] == b"\xfeSMB":
        count += 1
        following = int.from_bytes(frame[at + 20:at + 24], "little")
        if following == 0:
            break
        at += following
    return count


async def pump(reader, writer, delay, counter=None):
    """Copies reader to writer, each chunk `delay` seconds after it arrived."""
    queue = asyncio.Queue()
    pending = b""

    async def deliver():
        while True:
            item = await queue.get()
            if item is None:
                break
            due, data = item
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.ensure_future(deliver())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            queue.put_nowait((time.monotonic() + delay, data))
            if counter is not None:
                pending += data
                while len(pending) >= 4:
                    length = int.from_bytes(pending[1:4], "big")
                    if len(pending) < 4 + length:
                        break
                    if pending[0] == 0:
                        counter.frames += 1
                        counter.requests += count_requests(pending[4:4 + length])
                    pending = pending[4 + length:]
    except ConnectionError:
        pass
    queue.put_nowait(None)
    try:
        await sender
    except ConnectionError:
        pass


async def main():
    listen, target, delay_ms, count_file = sys.argv[1:5]
    listen_host, listen_port = listen.rsplit(":", 1)
    target_host, target_port = target.rsplit(":", 1)
    delay = float(delay_ms) / 1000.0
    counter = Counter(count_file)
    counter.save()

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(target_host, int(target_port))
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay, counter),
                             pump(server_reader, client_writer, delay))
        counter.save()

    server = await asyncio.start_server(serve, listen_host, int(listen_port))
    stop = asyncio.get_running_loop().create_future()
    asyncio.get_running_loop().add_signal_handler(signal.SIGTERM, stop.set_result, None)
    async with server:
        await stop
    counter.save()


if __name__ == "__main__":
    asyncio.run(main())
