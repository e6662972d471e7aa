# A device on 127.0.0.1 that pushes JSON events over WebSocket (port chosen by
# the system, printed first): a playback timing change, an empty message, a
# text that is not JSON, then a tally event, to each client that asks for the "v1" protocol; then it waits.
# Each client that joins is announced to the clients already there ("joined n",
# then "seen n"), which gives a test messages to send at a moment it chooses.
import asyncio

import websockets

clients = []
joined = 0


async def handler(ws, path=None):
    global joined
    joined += 1
    number = joined
    for other in list(clients):
        try:
            await other.send(f"joined {number}")
            await other.send(f"seen {number}")
        except websockets.ConnectionClosed:
            pass
    clients.append(ws)
    await ws.send('{"path": "playback", "event": "playback_timing_changed"}')
    await ws.send('')
    await ws.send('not json')
    await ws.send('{"event": "tally", "on": true}')
    try:
        async for _ in ws:
            pass
    finally:
        clients.remove(ws)


async def main():
    async with websockets.serve(handler, "127.0.0.1", 0, subprotocols=["v1"]) as server:
        print("port", server.sockets[0].getsockname()[1], flush=True)
        await asyncio.Future()


asyncio.run(main())
