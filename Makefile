# make run   builds if needed and starts the server in demo/ (port 2121)
# make test  installs what the tests need, then builds and runs every test:
#            plain, with AddressSanitizer + UndefinedBehaviorSanitizer, and
#            with ThreadSanitizer
JOBS ?= 2
CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all build run test build-plain build-asan build-tsan deps bench clean install uninstall fuzz soak

# make install [PREFIX=/usr/local] [DESTDIR=...] [BUILD=build]
PREFIX ?= /usr/local
BUILD ?= build
SBINDIR = $(DESTDIR)$(PREFIX)/sbin
MANDIR = $(DESTDIR)$(PREFIX)/share/man/man8
DOCDIR = $(DESTDIR)$(PREFIX)/share/doc/vostrine
UNITDIR = $(DESTDIR)$(PREFIX)/lib/systemd/system

all: build

build:
	@cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	@cmake --build build -j $(JOBS) --target vostrine

run: build
	cd demo && ../build/vostrine --settings vostrine.conf

deps:
	@tools/ensure-deps

test: deps
	@$(MAKE) --no-print-directory build-plain build-asan build-tsan
	@tools/run-suites build build-asan build-tsan
	@tools/run-fuzzers 5

# The fuzzers for two minutes each; the soak (a load and memory check) for ten minutes.
fuzz: deps
	tools/run-fuzzers 120

soak: build
	VOSTRINE_BIN=build/vostrine bench/soak.py 600 50

# One build directory per flavour; the test binaries are built with each.
build-plain:
	cmake -S . -B build $(CMAKE_FLAGS) >/dev/null
	cmake --build build -j $(JOBS)

build-asan:
	cmake -S . -B build-asan $(CMAKE_FLAGS) -DVOSTRINE_SANITIZE=address >/dev/null
	cmake --build build-asan -j $(JOBS)

build-tsan:
	cmake -S . -B build-tsan $(CMAKE_FLAGS) -DVOSTRINE_SANITIZE=thread >/dev/null
	cmake --build build-tsan -j $(JOBS)

bench: build
	bench/run

install:
	@[ -x $(BUILD)/vostrine ] || $(MAKE) --no-print-directory build
	install -D -m 0755 $(BUILD)/vostrine $(SBINDIR)/vostrine
	install -D -m 0644 doc/vostrine.8 $(MANDIR)/vostrine.8
	install -D -m 0644 demo/config $(DOCDIR)/config.example
	install -D -m 0644 contrib/vostrine.conf.example $(DOCDIR)/vostrine.conf.example
	install -D -m 0644 contrib/fail2ban/filter.d/vostrine.conf $(DOCDIR)/fail2ban/filter.d/vostrine.conf
	install -D -m 0644 contrib/fail2ban/jail.d/vostrine.conf $(DOCDIR)/fail2ban/jail.d/vostrine.conf
	install -d $(UNITDIR)
	sed 's|@SBINDIR@|$(PREFIX)/sbin|' contrib/vostrine.service > $(UNITDIR)/vostrine.service
	chmod 0644 $(UNITDIR)/vostrine.service

# Removes what install wrote, then the folders it made when they are empty.
uninstall:
	rm -f $(SBINDIR)/vostrine $(MANDIR)/vostrine.8 $(UNITDIR)/vostrine.service
	rm -f $(DOCDIR)/config.example $(DOCDIR)/vostrine.conf.example
	rm -f $(DOCDIR)/fail2ban/filter.d/vostrine.conf $(DOCDIR)/fail2ban/jail.d/vostrine.conf
	-rmdir $(DOCDIR)/fail2ban/filter.d $(DOCDIR)/fail2ban/jail.d $(DOCDIR)/fail2ban $(DOCDIR) 2>/dev/null
	-cd $(DESTDIR)$(PREFIX) 2>/dev/null && rmdir sbin share/man/man8 share/man share/doc share lib/systemd/system lib/systemd lib 2>/dev/null
	-rmdir $(DESTDIR)$(PREFIX) 2>/dev/null

clean:
	rm -rf build build-asan build-tsan build-fuzz
