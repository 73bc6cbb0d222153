#include "usage.h"

namespace {

const char* const kUsageLine =
    "Usage: hostsim --script FILE [--port P] [--transcript PREFIX] [options]\n"
    "       hostsim --load N [--size M] [--port P] [options]\n"
    "       hostsim --help\n";

const char* const kUsageBody = R"(
Plays the host side of a TN3270E (or plain TN3270) printer session on a loopback
TCP port, driven by a plain text script. Prints "PORT <n>" once the port is bound,
"LISTENING" once it accepts, "CONNECTED k" and "DONE k ok|fail" per connection,
then ends when the last client has been served. Exit code 0 when every check
passed, 1 when one failed, 2 for a usage error.

Options:
  --script FILE        the script to play (below)
  --port P             port on 127.0.0.1 (0, the default: a free one)
  --transcript PREFIX  connection k writes every byte it received to PREFIX.k
  --pcap DIR           connection k is written as DIR/k.pcap (both directions, for
                       tshark -d tcp.port==PORT,telnet)
  --clients N          serve N connections, then end (default 1; 0: no end)
  --concurrent         serve the connections at the same time, a thread each
  --listen-after MS    bind at once but accept only after MS milliseconds
  --timeout MS         how long each wait for the client may take (default 10000)
  --load N             send N SCS records instead of a script (a speed test);
  --size M             each of M bytes (default 80); prints "LOAD k records=..."
  --stream             load records ask no response, but the last (the rate then
                       counts until its response)
  --lu NAME            the LU name granted when the script names none (HOSTLU01)
  --tls-cert F         every connection is TLS from the first byte, with this
  --tls-key F          certificate and key (PEM); "TLS k SNI name VERSION v"
  --tls-client-ca F    asks for a client certificate signed by this CA
  --tls-max V          highest TLS version: 1.1, 1.2 or 1.3
  --starttls           with --tls-cert: plain text until the starttls command
  -h, --help           this text

Script: one command a line; '#' starts a comment. "next" starts the section
used by the next connection; the last section serves the rest.
  negotiate tn3270e [LUNAME] [binary]  TN3270E server; falls back to plain
                                       TN3270 when the client refuses
  negotiate tn3270                     plain TN3270 (terminal type, BINARY, EOR)
  reject <reason-hex>                  DEVICE-TYPE REJECT with that reason
  bind [hex] | unbind [hex] | eoj      BIND-IMAGE, UNBIND, PRINT-EOJ
  scs <data> [none|error|always]       SCS-DATA record, asking for that response
  data3270 <data> [none|error|always]  3270-DATA record
  msg <type-hex> <data>                any TN3270E message type with data
  ext-on                               offer option 0x37 (WILL), wait for DO
  ext <hex>                            IAC SB 37 <hex> IAC SE (FF doubled)
  starttls [server-first|client-first] offer START-TLS (DO 46), exchange FOLLOWS,
                                       then the TLS handshake; the rest of the
                                       script runs inside TLS. WONT 46 prints
                                       "STARTTLS k REFUSED" and goes on in plain
  starttls-bad [server-first|client-first]  the same up to FOLLOWS, then plain
                                       text instead of TLS ("STARTTLS k BAD")
  raw <hex>                            bytes as they stand
  cork | uncork                        what is sent in between goes in one send
  seq <n>                              next sequence number
  expect-response                      wait for every requested response
  negative-ok                          from here a negative response is printed
                                       ("NEGATIVE k SEQ n REASON rr"), not a failure
  expect <hex>                         wait for these bytes from the client
  quiet <ms>                           fail when the client sends anything
  wait-bytes <n>                       wait until n bytes were received in all
  sleep <ms>                           pause (answers the client meanwhile)
  print <text>                         print the text on standard output
  close | reset | hold                 end the connection: FIN, RST, or wait
                                       until the client closes it

<data> is hex digits (one word, no blanks), "text" (letters, digits and
common signs in EBCDIC 037; \n gives NL), or @FILE: a file of hex text such as
samples/report.scs.hex (hex digits and white space only, or a name ending in
.hex), else the file's bytes as they stand. A relative FILE is looked up in the
working directory, then beside the script.

Example (prints the sample report to a file; see README "Try it by hand"):
  hostsim --port 2323 --script samples/report.script
)";

} // namespace

void PrintUsageLine(FILE* to) {
    std::fputs(kUsageLine, to);
}

void PrintUsage(FILE* to) {
    std::fputs(kUsageLine, to);
    std::fputs(kUsageBody, to);
}
