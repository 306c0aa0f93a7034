"""A conversation forwarded, as it happens, to another contact."""
TITLE = "Forward conversation"
REQUIRES = ["plugin/messaging/ForwardHandler.cpp"]
SCENARIO = None
