# A WebSocket server on 127.0.0.1 (port chosen by the system, printed first)
# that sends two JSON objects around a JSON array to each client, answering
# only the "v1" protocol.
import asyncio

import websockets


async def handler(ws, path):
    print("path", path, "protocol", ws.subprotocol, flush=True)
    await ws.send('{"event": "tally", "on": true}')
    await ws.send('[1, 2, 3]')
    await ws.send('{"event": "second"}')
    async for _ in ws:
        pass


async def main():
    async with websockets.serve(handler, "127.0.0.1", 0, subprotocols=["v1"]) as server:
        print("port", server.sockets[0].getsockname()[1], flush=True)
        await asyncio.Future()


asyncio.run(main())
