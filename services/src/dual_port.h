// One loopback port that answers both TLS and plain HTTP.
//
// The setup reaches the configuration host over plain HTTP in test mode, on the
// same host:port that otherwise speaks HTTPS. The front port peeks at the first
// byte of each connection: 0x16 opens a TLS handshake record, anything else is
// taken as plain HTTP. The connection is then relayed byte for byte to the
// internal TLS server or to the internal plain server (both on loopback).
// Relaying keeps the connection's fate visible to the client: an orderly close
// of the inner side becomes an orderly close, a reset becomes a reset.
#pragma once

#include <atomic>
#include <string>

class DualPort {
public:
    // Binds 127.0.0.1:port (0 = any free port). Returns the bound port, or -1.
    int bind(int port, std::string &error);
    // Serves until the process ends; run it on a thread of its own.
    void serve(int tlsTargetPort, int plainTargetPort);

private:
    int listenFd_ = -1;
    static void relay(int clientFd, int tlsTargetPort, int plainTargetPort);
};
