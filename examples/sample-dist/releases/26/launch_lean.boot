placeholder boot file: minimal system
