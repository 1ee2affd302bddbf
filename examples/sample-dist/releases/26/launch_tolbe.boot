placeholder boot file: tolbe profile
