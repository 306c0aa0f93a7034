"""Offline message composed and delivered."""
TITLE = "Offline messages, composed and delivered"
REQUIRES = ["plugin/offline/OfflineMessageHandler.cpp"]
SCENARIO = None
