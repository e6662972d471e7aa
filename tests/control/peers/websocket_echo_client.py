# Connects to a WebSocket server on 127.0.0.1, asks for the "chat" protocol,
# exchanges a message, a ping and the closing handshake, and prints each step.
import asyncio
import sys

import websockets


async def main(port):
    async with websockets.connect(f"ws://127.0.0.1:{port}/feed", subprotocols=["chat"], open_timeout=10) as ws:
        print("protocol", ws.subprotocol, flush=True)
        await ws.send("hello")
        print("echo", await asyncio.wait_for(ws.recv(), 10), flush=True)
        pong = await ws.ping(b"abc")
        await asyncio.wait_for(pong, 10)
        print("pong", flush=True)
        await ws.close()
        print("closed %s\ndone" % ws.close_code, flush=True)


asyncio.run(main(int(sys.argv[1])))
