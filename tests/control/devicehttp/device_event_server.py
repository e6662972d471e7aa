# A device on 127.0.0.1 that pushes JSON events over WebSocket (port chosen by
# the system, printed first): a playback timing change, an empty message, a
# text that is not JSON, then a tally event, to each client that asks for the "v1" protocol; then it waits.
import asyncio

import websockets


async def handler(ws, path=None):
    await ws.send('{"path": "playback", "event": "playback_timing_changed"}')
    await ws.send('')
    await ws.send('not json')
    await ws.send('{"event": "tally", "on": true}')
    async for _ in ws:
        pass


async def main():
    async with websockets.serve(handler, "127.0.0.1", 0, subprotocols=["v1"]) as server:
        print("port", server.sockets[0].getsockname()[1], flush=True)
        await asyncio.Future()


asyncio.run(main())
