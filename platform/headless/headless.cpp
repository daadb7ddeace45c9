// platform/headless/headless.cpp: in-memory backend (stub).
