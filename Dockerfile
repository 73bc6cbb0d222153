# twprinterd in a container: one printer LU per container.
#   docker build -t twprinterd .
#   docker run -v twprinter-lu01:/var/lib/twprinter twprinterd
# The settings file twprinter.ini goes into /var/lib/twprinter (a volume, or a
# mounted ConfigMap copied there by the orchestrator); jobs are spooled beside it.

FROM debian:bookworm-slim AS build
RUN apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        build-essential cmake pkg-config libcairo2-dev libcups2-dev libssl-dev libsystemd-dev \
        libsqlite3-dev zlib1g-dev libmicrohttpd-dev \
    && rm -rf /var/lib/apt/lists/*
WORKDIR /src
COPY CMakeLists.txt ./
COPY src ./src
COPY tools ./tools
COPY packaging ./packaging
RUN cmake -S . -B /build -DCMAKE_BUILD_TYPE=Release -DTWPRINTER_UI=OFF \
        -DTWPRINTER_TESTS=OFF -DTWPRINTER_BENCH=OFF \
    && cmake --build /build --target twprinterd -j"$(nproc)" \
    && strip /build/twprinterd

FROM debian:bookworm-slim
# Jobs in a double-byte code page drawn for a CUPS printer or as PDF need a CJK font:
# add fonts-ipafont-gothic (or fonts-noto-cjk) to this list. Text media need none.
RUN apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        libcairo2 libcups2 libssl3 libsystemd0 libsqlite3-0 zlib1g libmicrohttpd12 ca-certificates cups-client \
        fonts-dejavu-core \
    && rm -rf /var/lib/apt/lists/* \
    && groupadd --system --gid 10001 twprinter \
    && useradd --system --uid 10001 --gid twprinter --home-dir /var/lib/twprinter \
        --shell /usr/sbin/nologin twprinter \
    && install -d -o twprinter -g twprinter -m 0750 /var/lib/twprinter
COPY --from=build /build/twprinterd /usr/bin/twprinterd
USER 10001:10001
ENV TWPRINTER_DIR=/var/lib/twprinter
WORKDIR /var/lib/twprinter
VOLUME ["/var/lib/twprinter"]
# SIGTERM stops the session cleanly; SIGUSR1 logs a status summary.
STOPSIGNAL SIGTERM
ENTRYPOINT ["/usr/bin/twprinterd"]
