# The two commands a new user needs: `make run` and `make test`.
# Both install what is missing first (Debian packages, as root or via sudo).

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
# Extra ctest arguments, e.g. CTEST_ARGS="-E PulseAudio" to leave tests out.
CTEST_ARGS ?=

# Everything the engine, its tests, tools and benchmarks need on a fresh Debian 12.
DEB_PACKAGES := g++ make cmake ninja-build pkg-config git ca-certificates \
	libgtest-dev libgmock-dev libbenchmark-dev \
	libsdl2-dev libgl-dev libglu1-mesa-dev libegl-dev libgl1-mesa-dri \
	libjpeg62-turbo-dev libopenal-dev libsndfile1-dev \
	libfreetype-dev libfontconfig-dev fonts-dejavu-core libpng-dev \
	xvfb xauth \
	libopenmpt-dev libaubio-dev ffmpeg pulseaudio pulseaudio-utils sox \
	libdeflate-dev lib3ds-dev nlohmann-json3-dev \
	libepoxy-dev glslang-tools patchelf zip unzip clang-format clang-tidy

.PHONY: all deps build test run bench clean fuzz

all: build

deps:
	@missing=""; for p in $(DEB_PACKAGES); do \
	  dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing packages:$$missing"; \
	  if [ "$$(id -u)" = 0 ]; then SUDO=""; else SUDO="sudo"; fi; \
	  $$SUDO apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y --no-install-recommends $$missing; \
	fi

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) $(CTEST_ARGS)

PRODUCTION := examples/karmont
VIDEO ?= out/karmont.mp4
CAPTURE_DIR ?=
CAPTURE_FPS ?= 25

# The production's data is generated, deterministically, by tools/gen.
# Without a display the production is rendered into the video $(VIDEO);
# CAPTURE_DIR=FOLDER also keeps every frame as a PNG file there.
# Only the engine and the data generator are built for it, not the tests.
run: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target corvala corvala-gen
	@echo "Generating the production's data in $(PRODUCTION)/data"
	@$(BUILD)/tools/corvala-gen $(PRODUCTION)/data > /dev/null
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "Playing $(PRODUCTION)/karmont.cvl (Escape ends it)"; \
	  $(BUILD)/corvala $(PRODUCTION)/karmont.cvl; \
	else \
	  echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set): rendering the production"; \
	  echo "headless into $(VIDEO) at $(CAPTURE_FPS) frames per second instead."; \
	  frames=""; if [ -n "$(CAPTURE_DIR)" ]; then rm -rf $(CAPTURE_DIR); frames="--capture $(abspath $(CAPTURE_DIR))"; fi; \
	  $(BUILD)/corvala --video $(abspath $(VIDEO)) $$frames --fps $(CAPTURE_FPS) $(PRODUCTION)/karmont.cvl && \
	  echo "Done: the video is $(abspath $(VIDEO))$${frames:+; frames and audio.wav are in $(CAPTURE_DIR)}"; \
	fi

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

# Fuzzing (clang, libFuzzer): builds the targets in FUZZ_BUILD, writes the
# seeds, then runs each target FUZZ_SECONDS and keeps what it found new under
# fuzz/corpus/. Crashes land in fuzz/artifacts/<target>/.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS ?= script tracker 3ds bmp tga jpeg music

fuzz: deps
	@command -v clang++ >/dev/null || $(MAKE) deps DEB_PACKAGES="clang libclang-rt-dev"
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCORVALA_FUZZ=ON \
	  -DCORVALA_TESTS=OFF -DCORVALA_BENCH=OFF -DCORVALA_TOOLS=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	fuzz/seed.sh $(FUZZ_BUILD)
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf $(BUILD)
