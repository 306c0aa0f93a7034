"""One message broadcast to several contacts."""
TITLE = "Broadcast message"
REQUIRES = ["plugin/messaging/BroadcastDlg.cpp"]
SCENARIO = None
