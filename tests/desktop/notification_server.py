#!/usr/bin/env python3
"""A desktop's notification service (org.freedesktop.Notifications) for the desktop tests: it shows
nothing and writes one line per notification, "summary<TAB>body", to the file it is given."""
import asyncio
import sys

from dbus_next.aio import MessageBus
from dbus_next.service import ServiceInterface, method


class Notifications(ServiceInterface):
    def __init__(self, record):
        super().__init__("org.freedesktop.Notifications")
        self.record = record
        self.last_id = 0

    @method()
    def Notify(self, app_name: "s", replaces_id: "u", app_icon: "s", summary: "s", body: "s",
               actions: "as", hints: "a{sv}", expire_timeout: "i") -> "u":
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(f"{summary}\t{body}\n")
        self.last_id += 1
        return self.last_id

    @method()
    def GetCapabilities(self) -> "as":
        return ["body", "body-markup"]

    @method()
    def GetServerInformation(self) -> "ssss":
        return ["test", "hostwarden", "1", "1.2"]

    @method()
    def CloseNotification(self, id: "u"):
        pass


async def main(record):
    bus = await MessageBus().connect()
    bus.export("/org/freedesktop/Notifications", Notifications(record))
    await bus.request_name("org.freedesktop.Notifications")
    await asyncio.get_running_loop().create_future()


asyncio.run(main(sys.argv[1]))
