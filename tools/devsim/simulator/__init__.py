"""The device simulator behind devsim.py, one job per module:

config         defaults, validation of a /config patch, per-path settings
state          what all ports share: config, sessions, request log
wire           request bodies and cookies in, answers out
device         the HTTPS side: requests, the endpoints, delay/stall/garbage
misbehaviours  how a body goes out when its framing is misbehaved
server         the loopback servers and their connections
control        the plain-HTTP control API
app            start-up, the ready line, an orderly stop
"""
